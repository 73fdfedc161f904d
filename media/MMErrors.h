// The media library's error classes, one per component family, and raising
// one with a text from the message table.
#pragma once

#include <string>

#include "framework/Exceptions.h"
#include "media/MMMessages.h"

class EMMWaveError : public wc::Exception {
public:
    using wc::Exception::Exception;
};
class EMMWaveOutError : public wc::Exception {
public:
    using wc::Exception::Exception;
};
class EMMADPCMError : public wc::Exception {
public:
    using wc::Exception::Exception;
};
class EMMMpegError : public wc::Exception {
public:
    using wc::Exception::Exception;
};
class EMMCDDAError : public wc::Exception {
public:
    using wc::Exception::Exception;
};
class EMMAudioError : public wc::Exception {
public:
    using wc::Exception::Exception;
};

// Throws E with message `id`, after `prefix` (for example "WaveOutOpen:\n\r").
template <class E>
[[noreturn]] void RaiseMMError(int id, const std::string& prefix = {}) {
    throw E(prefix + MMLoadString(id));
}
