// The media library's message table: texts are string resources of the
// program (media/MMMessages.rc), looked up by number when a component raises
// an error or sets a caption.
#pragma once

#include <string>

namespace MMMsg {
// Captions and texts of the wave file chooser.
inline constexpr int OpenWaveFile = 28001;
inline constexpr int WaveFilter = 28004;
inline constexpr int InvalidWaveFileChosen = 28005;
inline constexpr int Unknown = 28006;
inline constexpr int Preview = 28007;
inline constexpr int Play = 28008;
inline constexpr int Stop = 28009;
inline constexpr int AutoPlay = 28010;

inline constexpr int UnableToLoad = 28040;

// Devices.
inline constexpr int PropertyWhileOpen = 28060;
inline constexpr int InvalidDeviceId = 28061;
inline constexpr int NoWaveOutDevice = 28062;
inline constexpr int InvalidWaveFormat = 28063;
inline constexpr int DeviceCantPlayFormat = 28064;
inline constexpr int UnableToOpenDevice = 28065;
inline constexpr int NoMemoryForWaveHeader = 28066;
inline constexpr int UnableToStartDevice = 28067;
inline constexpr int ErrorFillingBuffer = 28068;
inline constexpr int UnableToCloseDevice = 28069;
inline constexpr int CouldNotCreateThread = 28070;
inline constexpr int UnknownErrorNumber = 28071;

// Codecs.
inline constexpr int UnableToConvertFormat = 28080;
inline constexpr int AcmNotInstalled = 28090;
inline constexpr int FormatNotConvertible = 28092;
inline constexpr int UnableToConvertWave = 28093;
inline constexpr int ConversionAborted = 28094;

// The wave object.
inline constexpr int ErrorReadingWave = 28130;
inline constexpr int InvalidWaveFile = 28133;
inline constexpr int UnableToSetupIOBuffer = 28137;
inline constexpr int UnableToOpenWave = 28138;
inline constexpr int UnableToCreateWave = 28139;
inline constexpr int ErrorSeekingWave = 28147;
}  // namespace MMMsg

// The text of message `id`; empty when the program has no such string.
std::string MMLoadString(int id);
