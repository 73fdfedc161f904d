#!/usr/bin/env python3
"""Writes the seed inputs of the fuzz targets: well-formed cases of each
unit (a standard Microsoft ADPCM format with blocks, nibble streams, PCM
blocks of every width, a LIST/INFO body and DISP bodies, MPEG audio streams
with their tags and wrappers), laid out as each target takes its input
apart."""
import os
import struct
import sys

out = sys.argv[1]
COEF = [(256, 0), (512, -256), (0, 0), (192, 64), (240, 0), (460, -208), (392, -232)]


def write(target, name, data):
    os.makedirs(os.path.join(out, target), exist_ok=True)
    with open(os.path.join(out, target, name), "wb") as f:
        f.write(data)


def ms_block(channels, align, seed):
    b = bytes([seed % 7] * channels)
    b += b"".join(struct.pack("<h", 16 + 8 * c) for c in range(channels))
    b += b"".join(struct.pack("<h", 100 * (c + 1)) for c in range(channels))
    b += b"".join(struct.pack("<h", -50 * (c + 1)) for c in range(channels))
    codes = bytes((seed * 37 + i * 11) & 0xFF for i in range(align - len(b)))
    return b + codes


for channels, align in ((1, 256), (2, 512), (4, 64)):
    spb = (align - 7 * channels) * 8 // (4 * channels) + 2
    extra = struct.pack("<HH", spb, 7) + b"".join(struct.pack("<hh", a, b) for a, b in COEF)
    head = bytes([len(extra), 0, channels]) + struct.pack("<IIH", 22050, 11100, align) + bytes([0])
    head += struct.pack("<H", len(extra)) + extra + bytes([0, 0, 0])
    write("adpcm_ms_fuzz", "ms_%d_%d" % (channels, align), head + b"".join(ms_block(channels, align, s) for s in range(3)))

state = struct.pack("<6h", 0, 0, 0, 0, 40, 1000)
write("adpcm_nibble_fuzz", "stream", state + bytes((i * 29 + 3) & 0xFF for i in range(256)))
write("adpcm_nibble_fuzz", "high_index", struct.pack("<6h", 7, 88, 32000, 15, 88, -32000) + bytes(range(64)))


def fmt(tag, channels, bits, extra=b""):
    align = channels * bits // 8
    return struct.pack("<HHIIHHH", tag, channels, 44100, 44100 * align, align, bits, len(extra)) + extra.ljust(22, b"\0")


ext = lambda sub, valid: struct.pack("<HI", valid, 3) + struct.pack("<H", sub) + bytes.fromhex("000000001000800000aa00389b71")
tail = struct.pack("<ii", 16384, 8192) + bytes([1, 1])
pcm16 = b"".join(struct.pack("<h", (i * 997) % 65536 - 32768) for i in range(200))
write("pcm_fuzz", "pcm16_stereo", fmt(1, 2, 16) + tail + pcm16)
write("pcm_fuzz", "pcm8_mono", fmt(1, 1, 8) + struct.pack("<ii", 32768, 0) + bytes([0, 1]) + bytes(range(256)))
write("pcm_fuzz", "pcm24", fmt(1, 2, 24) + tail + bytes((i * 13) & 0xFF for i in range(600)))
write("pcm_fuzz", "float32_ext", fmt(0xFFFE, 2, 32, ext(3, 32)) + tail +
      b"".join(struct.pack("<f", (i - 50) / 40.0) for i in range(100)))
write("pcm_fuzz", "int32_ext", fmt(0xFFFE, 1, 32, ext(1, 24)) + tail + bytes((i * 7) & 0xFF for i in range(400)))


def sub(tag, text):
    body = text + b"\0"
    return tag + struct.pack("<I", len(body)) + body + (b"\0" if len(body) & 1 else b"")


write("riff_lists_fuzz", "info", sub(b"INAM", b"A title") + sub(b"IART", b"Someone") + sub(b"ICMT", b"odd"))
write("riff_lists_fuzz", "disp_text", struct.pack("<I", 1) + b"Shown text\0")
write("riff_lists_fuzz", "disp_dib", struct.pack("<IIiiHHII", 8, 40, 2, 2, 1, 8, 0, 8) + bytes(40))


# MPEG audio frames: valid headers over bodies of pseudo-random bits (the
# first bytes zero, so that a layer III frame asks nothing of the bit
# reservoir), three frames to a seed, after the control byte.
def mpeg_frame(version, layer, bitrate, rate, mode, ext, seed, crc=False):
    lsf = version != 3
    kbps = [[[0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448],
             [0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384],
             [0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320]],
            [[0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256],
             [0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160],
             [0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160]]][lsf][layer - 1][bitrate]
    hz = {3: [44100, 48000, 32000], 2: [22050, 24000, 16000], 0: [11025, 12000, 8000]}[version][rate]
    if layer == 1:
        size = 12 * kbps * 1000 // hz * 4
    elif layer == 2 or not lsf:
        size = 144 * kbps * 1000 // hz
    else:
        size = 72 * kbps * 1000 // hz
    head = bytes([0xFF, 0xE0 | version << 3 | (4 - layer) << 1 | (0 if crc else 1), bitrate << 4 | rate << 2, mode << 6 | ext << 4])
    body = bytes(2 if crc else 0) + bytes(3) + bytes((seed * 131 + i * 71 + (i * i) % 251) & 0xFF for i in range(size - 7))
    return (head + body)[:size]


for name, args in {"l3_mpeg1_js": (3, 3, 9, 0, 1, 3), "l3_mpeg1_mono": (3, 3, 5, 1, 3, 0),
                   "l3_mpeg2_is": (2, 3, 8, 0, 1, 1), "l3_mpeg25_8k": (0, 3, 2, 2, 3, 0),
                   "l2_mpeg1": (3, 2, 10, 0, 0, 0), "l2_mpeg1_js": (3, 2, 4, 1, 1, 2), "l2_mpeg2": (2, 2, 8, 0, 2, 0),
                   "l1_mpeg1": (3, 1, 6, 0, 1, 1), "l1_mpeg2_crc": (2, 1, 5, 1, 3, 0)}.items():
    frames = b"".join(mpeg_frame(*args, seed=s, crc=name.endswith("crc")) for s in range(3))
    write("mpeg_decoder_fuzz", name, bytes([len(name)]) + frames)
# A longer stream: twenty layer II frames (the decoder is given the whole rest of the input).
write("mpeg_decoder_fuzz", "l2_stream", bytes([0]) + b"".join(mpeg_frame(3, 2, 10, 0, 0, 0, seed=s) for s in range(20)))
# Free format (bit-rate index 0): MPEG-1 layer III, 48 kHz, mono, 600-byte frames (200 kbit/s).
free = b"".join(bytes([0xFF, 0xFB, 0x04, 0xC4]) + bytes(3) + bytes((s * 131 + i * 71) & 0xFF for i in range(593)) for s in range(3))
write("mpeg_decoder_fuzz", "l3_free", bytes([1]) + free)


# MPEG audio: a file offset byte, a 16-bit trailing-byte count and the index step, then the file.
def frame(header, size, body=b""):
    return bytes(header) + body + bytes(size - 4 - len(body))


def info_frame(header, size, side, frames, delay, padding):
    # "Info" after the side information: flags (frames, bytes, TOC, quality),
    # then the encoder tag with its 12-bit delay and padding at byte 21.
    xing = b"Info" + struct.pack(">III", 15, frames, frames * size) + bytes(range(100)) + struct.pack(">I", 50)
    tag = b"LAME3.100" + bytes(12) + bytes([delay >> 4, (delay & 15) << 4 | padding >> 8, padding & 255]) + bytes(12)
    return frame(header, size, bytes(side) + xing + tag)


def mpeg(name, file, offset=0, trailing=0, seek=20000):
    write("mpeg_stream_fuzz", name, bytes([offset]) + struct.pack("<H", trailing) + bytes([3]) + file)
    # The file layer: flags (channel mode, read error, offset byte), trailing bytes, read size,
    # seek point (of 65536), the offset a read error strikes and from which read on, then the file.
    mpeg_file(name, file, offset, trailing, seek=seek)


def mpeg_file(name, file, offset=0, trailing=0, mode=2, chunk=6000, seek=20000, fail_at=None, fail_after=0):
    flags = mode | (4 if fail_at is not None else 0) | (8 if offset else 0)
    head = bytes([flags]) + (bytes([offset]) if offset else b"") + struct.pack("<HHHIB", trailing, chunk, seek, fail_at or 0, fail_after)
    write("mpeg_file_fuzz", name, head + file)


l3 = [0xFF, 0xFB, 0x90, 0x64]  # MPEG-1 layer III, 128 kbit/s, 44.1 kHz, joint stereo: 417 bytes
mpeg("l3_info", info_frame(l3, 417, 32, 8, 576, 1200) + b"".join(frame(l3, 417) for _ in range(8)))
lsf = [0xFF, 0xF3, 0x80, 0xC4]  # MPEG-2 layer III, 64 kbit/s, 22.05 kHz, mono: 208 bytes
mpeg("lsf_garbage", b"".join(frame(lsf, 208) + (b"\xff\xf3junk" if i % 3 == 0 else b"") for i in range(9)), trailing=5)
l2 = [0xFF, 0xFD, 0xA4, 0x04]  # MPEG-1 layer II, 192 kbit/s, 48 kHz, stereo: 576 bytes
id3v2 = b"ID3" + bytes([3, 0, 0, 0, 0, 0, 20]) + bytes(20)
id3v1 = b"TAG" + b"Title".ljust(30, b"\0") + bytes(94) + bytes([17])
mpeg("l2_tags", id3v2 + b"".join(frame(l2, 576) for _ in range(6)) + id3v1)
fmt = struct.pack("<HHIIHH", 0x50, 2, 48000, 24000, 576, 0) + struct.pack("<H", 0)
data = b"".join(frame(l2, 576) for _ in range(4))
mpeg("l2_wave", b"RIFF" + struct.pack("<I", 4 + 8 + len(fmt) + 8 + len(data)) + b"WAVE" + b"fmt " + struct.pack("<I", len(fmt)) +
     fmt + b"data" + struct.pack("<I", len(data)) + data)
big = [0xFF, 0xE5, 0xEA, 0xC0]  # MPEG-2.5 layer II, 160 kbit/s, 8 kHz, padded: the largest frame, 2881 bytes
mpeg("l2_largest", b"".join(frame(big, 2881) for _ in range(3)))
# Free format: MPEG-1 layer III, 44.1 kHz, joint stereo, 835 bytes a frame, every third padded.
mpeg("free_padded", b"".join(frame([0xFF, 0xFB, 0x02 if i % 3 == 2 else 0x00, 0x64], 836 if i % 3 == 2 else 835) for i in range(7)))
# Valid layer I frames (MPEG-1, 192 kbit/s, 44.1 kHz: 208 bytes) that change
# between stereo and mono every three frames: a seek must give what a decode
# from the start gives all the same, here the closed seek to frame 7, whose
# filter bank reaches back past the first stereo frame after mono ones
# (12 * (65535 - 27306) / 65536 = 7). Subbands 0 to 7 carry 4-bit samples.
def layer1_frame(mode, seed):
    channels = 1 if mode == 3 else 2
    bits = "1" * 16 + "0110" + "00" + "00" + format(mode, "02b") + "000000"  # no CRC, 192 kbit/s, 44.1 kHz
    bits += "".join(("0011" if sb < 8 else "0000") * channels for sb in range(32))
    bits += "".join(format((seed * 7 + sb * 5 + ch) % 40 + 10, "06b") for sb in range(8) for ch in range(channels))
    bits += "".join(format((seed * 131 + s * 17 + sb * 11 + ch * 3) % 15, "04b") for s in range(12) for sb in range(8) for ch in range(channels))
    bits = bits.ljust(208 * 8, "0")
    return int(bits, 2).to_bytes(208, "big")


mpeg("l1_modes", b"".join(layer1_frame(3 if i // 3 % 2 else 0, i) for i in range(12)), seek=27306)
# A VBRI header (as the Fraunhofer encoder writes it) 32 bytes after the
# header of the first frame: version, delay, quality, bytes, frames.
vbri = b"VBRI" + struct.pack(">HHHII", 1, 1105, 75, 8 * 417, 8)
mpeg("l3_vbri", frame(l3, 417, bytes(32) + vbri) + b"".join(frame(l3, 417) for _ in range(8)))
# Gapless trimming with a frame count that ends before the file does (a
# joined file) and after (a cut one).
mpeg("l3_joined", info_frame(l3, 417, 32, 5, 576, 1500) + b"".join(frame(l3, 417) for _ in range(9)))
mpeg("l3_cut", info_frame(l3, 417, 32, 30, 576, 1500) + b"".join(frame(l3, 417) for _ in range(9)))
# Read errors: one in the first frames, read by setting the file; one late,
# read while decoding; and one on the tag at the end.
stream = info_frame(l3, 417, 32, 12, 576, 1200) + b"".join(frame(l3, 417) for _ in range(12)) + id3v1
mpeg_file("error_early", stream, fail_at=500)
mpeg_file("error_late", stream, fail_at=417 * 11, fail_after=2)
mpeg_file("error_tag", stream, fail_at=len(stream) - 10)
