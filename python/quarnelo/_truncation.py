"""What a file's header declares about the extent of its audio data.

libsndfile trims its frame count to the data a cut-off file still holds, so
a truncated recording would be analysed as if it were whole; the container's
own header says how far the audio should reach. These are the rules of the
command-line tool (tools/cli/truncation.cpp), for the containers that
declare an extent: RIFF and RIFX WAVE, RF64 and BW64, Sony Wave64, AIFF and
AIFC, IFF 8SVX, Sun/NeXT AU, Apple CAF, AVR, NIST SPHERE and MATLAB 4.
"""

# libsndfile's major formats (SF_FORMAT_... of sndfile.h).
WAV = 0x010000
AIFF = 0x020000
AU = 0x030000
SVX = 0x060000
NIST = 0x070000
W64 = 0x0B0000
MAT4 = 0x0C0000
AVR = 0x120000
WAVEX = 0x130000
CAF = 0x180000
RF64 = 0x220000

_U64_MAX = (1 << 64) - 1

# Chunk lists stop being walked after this many chunks: a file of empty
# chunks would otherwise cost one read per eight bytes.
_MAX_CHUNKS = 100000


def _little(b):
    return int.from_bytes(b, "little")


def _big(b):
    return int.from_bytes(b, "big")


def _end_of(at, header, body):
    """The end of a chunk at `at` with a header and a body of these sizes;
    None when it lies beyond what 64 bits count."""
    end = at + header + body
    return end if end <= _U64_MAX else None


def _walk_iff(read_at, big_endian, data_id):
    # RIFF, RIFX, RF64, BW64 (32-bit sizes, chunks padded to even lengths)
    # and AIFF/AIFC (big-endian). A 64-bit data size from a "ds64" chunk
    # replaces the 32-bit one of RF64 and BW64.
    number = _big if big_endian else _little
    at = 12
    size64 = None
    for _ in range(_MAX_CHUNKS):
        h = read_at(at, 8)
        if h is None:
            return None
        size = number(h[4:8])
        if h[:4] == b"ds64":
            d = read_at(at + 8, 16)
            if d is not None:
                size64 = _little(d[8:16])
        if h[:4] == data_id:
            if size == 0xFFFFFFFF:
                return None if size64 is None else _end_of(at, 8, size64)  # open length without ds64
            if size == 0:
                return None  # some writers leave 0 for "to the end"
            return _end_of(at, 8, size)
        at = _end_of(at, 8, size + (size & 1))
        if at is None:
            return None
    return None


_W64_DATA = bytes([ord("d"), ord("a"), ord("t"), ord("a"), 0xF3, 0xAC, 0xD3, 0x11,
                   0x8C, 0xD1, 0x00, 0xC0, 0x4F, 0x8E, 0xDB, 0x8A])


def _walk_w64(read_at):
    # 16-byte chunk GUIDs, 64-bit sizes that include the 24-byte chunk
    # header, chunks aligned to 8 bytes.
    at = 40
    for _ in range(_MAX_CHUNKS):
        h = read_at(at, 24)
        if h is None:
            return None
        size = _little(h[16:24])
        if size < 24:
            return None
        if h[:16] == _W64_DATA:
            return _end_of(at, 0, size)
        if size > _U64_MAX - 7:
            return None
        at = _end_of(at, 0, (size + 7) & ~7)
        if at is None:
            return None
    return None


def _walk_caf(read_at):
    # Big-endian 64-bit sizes, no padding; a data size of -1 leaves the
    # length open.
    at = 8
    for _ in range(_MAX_CHUNKS):
        h = read_at(at, 12)
        if h is None:
            return None
        size = _big(h[4:12])
        if h[:4] == b"data":
            return None if size == _U64_MAX else _end_of(at, 12, size)
        at = _end_of(at, 12, size)
        if at is None:
            return None
    return None


def _au_data(read_at, big_endian):
    # A fixed header with the data offset and size; 0xFFFFFFFF leaves the
    # length open.
    h = read_at(0, 12)
    if h is None:
        return None
    number = _big if big_endian else _little
    offset, size = number(h[4:8]), number(h[8:12])
    return None if size == 0xFFFFFFFF else _end_of(offset, 0, size)


def _avr_data(read_at):
    # A 128-byte header with the frame count, the sample size and whether
    # there are two channels.
    h = read_at(0, 30)
    if h is None:
        return None
    channels = 1 if _big(h[12:14]) == 0 else 2
    sample_bytes = (_big(h[14:16]) + 7) // 8
    return 128 + _big(h[26:30]) * channels * sample_bytes


def _mat4_data(read_at):
    # A matrix "samplerate" of one double, then the samples as a matrix of
    # channels x frames; each with a 20-byte header (type, rows, columns,
    # imaginary flag, name length) and its name. The type's first digit
    # gives the byte order, its third the element type.
    element_bytes = (8, 4, 4, 2, 2, 1)
    at = 0
    for _ in range(2):
        h = read_at(at, 20)
        if h is None:
            return None
        big_endian = _little(h[:4]) > 0xFFFF  # a small number written the other way round
        number = _big if big_endian else _little
        kind, rows, columns, name = (number(h[4 * i:4 * i + 4]) for i in (0, 1, 2, 4))
        if (kind // 10) % 10 > 5:
            return None
        # Wraps as the tool's 64-bit sum does.
        at = (at + 20 + name + rows * columns * element_bytes[(kind // 10) % 10]) & _U64_MAX
    return at


def _strtoull(text, at):
    # The decimal number at `at`, as C's strtoull reads it: blanks, a sign
    # (a minus wraps around), digits up to the first other byte (a NUL
    # included); 0 when there are none, the largest value on overflow.
    while at < len(text) and text[at] in b" \t\n\v\f\r":
        at += 1
    negative = at < len(text) and text[at] == ord("-")
    if at < len(text) and text[at] in b"+-":
        at += 1
    end = at
    while end < len(text) and 0x30 <= text[end] <= 0x39:
        end += 1
    if end == at:
        return 0
    value = int(text[at:end])
    if value > _U64_MAX:
        return _U64_MAX
    return (-value) & _U64_MAX if negative else value


def _nist_data(read_at, size):
    # A text header of the size its second line gives, with the sample
    # count, channel count and bytes per sample as "name -type value".
    header = read_at(0, min(1024, size))
    if header is None:
        return None

    def field(name):
        at = header.find(b"\n" + name + b" -")
        if at < 0:
            return None
        value = header.find(b" ", at + len(name) + 2)
        return None if value < 0 else _strtoull(header, value)

    length = _strtoull(header, 8)
    count, channels, sample_bytes = field(b"sample_count"), field(b"channel_count"), field(b"sample_n_bytes")
    if count is None or channels is None or sample_bytes is None:
        return None
    if channels > 1024 or sample_bytes > 8 or count > (_U64_MAX >> 14):
        return None
    return (length + count * channels * sample_bytes) & _U64_MAX


def declared_data_end(read_at, size, container):
    """The offset just past the audio data the header declares, or None.

    `read_at(offset, n)` returns n bytes of the file or None when it has
    fewer; `size` is the file's size; `container` is libsndfile's major
    format of the file, so that only the container libsndfile recognised is
    parsed. None for other containers, for a length left open ("to the end
    of the file", as streams are written), or when no data chunk is found.
    """
    head = read_at(0, 12)
    if head is None:
        return None
    if container in (WAV, WAVEX, RF64):
        return _walk_iff(read_at, head[:4] == b"RIFX", b"data")
    if container == AIFF:
        return _walk_iff(read_at, True, b"SSND")
    if container == SVX:
        return _walk_iff(read_at, True, b"BODY")
    if container == W64:
        return _walk_w64(read_at)
    if container == CAF:
        return _walk_caf(read_at)
    if container == AU:
        return _au_data(read_at, head[:4] == b".snd")
    if container == AVR:
        return _avr_data(read_at)
    if container == NIST:
        return _nist_data(read_at, size)
    if container == MAT4:
        return _mat4_data(read_at)
    return None
