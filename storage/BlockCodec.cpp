#include "storage/BlockCodec.h"

#include "storage/ByteSpan.h"

#include <bzlib.h>
#include <lzma.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <new>

struct Bzip2CompressState {
    bz_stream stream{};
};
struct ZlibCompressState {
    z_stream stream{};
    int level = 0;
    bool active = false;  // a stream is running; otherwise the allocation waits for reuse
};
struct LzmaCompressState {
    lzma_stream stream = LZMA_STREAM_INIT;  // kept between blocks so the encoder reuses memory
};
struct Bzip2DecompressState {
    bz_stream stream{};
    bool active = false;
};
struct ZlibDecompressState {
    z_stream stream{};
    bool allocated = false;  // inflateInit has run; the state is reset for every block
    bool active = false;
};
struct LzmaDecompressState {
    lzma_stream stream = LZMA_STREAM_INIT;
    bool decoderReady = false;  // properties read and decoder set up
    bool failed = false;
    std::uint8_t props[5] = {};
    std::uint32_t propsHave = 0;
};

namespace {

struct ErrorText {
    int code;
    const char* text;
};

template <std::size_t N>
const char* LookUp(const ErrorText (&table)[N], int code) {
    for (const ErrorText& e : table)
        if (e.code == code)
            return e.text;
    return "unknown error";
}

const ErrorText kBzip2Errors[] = {
    {-1, "sequence error - bad call"},
    {-2, "parameter error - bad call"},
    {-3, "not enough memory"},
    {-9, "config error"},
};
const ErrorText kZlibErrors[] = {
    {-2, "invalid stream - bad call"},
    {-3, "data error"},
    {-4, "not enough memory"},
    {-5, "buffer error - bad call"},
    {-6, "version error"},
};
const ErrorText kLzmaErrors[] = {
    {-1, "bad call"},
    {-2, "initialization failed"},
    {-3, "thread synchronization error"},
    {-4, "input/output error"},
    {-5, "not enough memory"},
};

}  // namespace

// ---------------------------------------------------------------------------------- bzip2

CBzip2Compressor::CBzip2Compressor() = default;
CBzip2Compressor::~CBzip2Compressor() { End(); }

int CBzip2Compressor::Init(int level, std::uint32_t /*dictionarySize*/) {
    End();
    m_lastResult = 0;
    m_state.reset(new (std::nothrow) Bzip2CompressState);
    if (!m_state)
        return -3;
    // -1 asks for the codec's default, as it does for zlib and LZMA: bzip2's is 9 (900 KiB).
    if (level == -1)
        level = 9;
    int r = BZ2_bzCompressInit(&m_state->stream, level, 0, 30);
    if (r != BZ_OK) {
        m_state.reset();
        return r < 0 ? r : -2;
    }
    return 0;
}

int CBzip2Compressor::End() {
    if (!m_state)
        return 0;
    int r = BZ2_bzCompressEnd(&m_state->stream);
    m_state.reset();
    return r;
}

int CBzip2Compressor::Compress(bool finish) {
    if (!m_state)
        return BZ_SEQUENCE_ERROR;
    if (m_lastResult == BZ_STREAM_END && finish)
        return 1;
    bz_stream& s = m_state->stream;
    s.next_in = const_cast<char*>(reinterpret_cast<const char*>(m_in));
    s.avail_in = m_inLeft;
    s.next_out = reinterpret_cast<char*>(m_out);
    s.avail_out = m_outLeft;
    m_lastResult = BZ2_bzCompress(&s, finish ? BZ_FINISH : BZ_RUN);
    m_in = reinterpret_cast<const std::uint8_t*>(s.next_in);
    m_inLeft = s.avail_in;
    m_out = reinterpret_cast<std::uint8_t*>(s.next_out);
    m_outLeft = s.avail_out;
    return m_lastResult < 0 ? m_lastResult : 0;
}

const char* CBzip2Compressor::GetErrorText(int code) { return LookUp(kBzip2Errors, code); }

cbzip2decompressor::cbzip2decompressor() : m_state(std::make_unique<Bzip2DecompressState>()) {}
cbzip2decompressor::~cbzip2decompressor() { End(); }

int cbzip2decompressor::Init() {
    End();
    m_state->stream = bz_stream{};
    int r = BZ2_bzDecompressInit(&m_state->stream, 0, 0);
    m_state->active = (r == BZ_OK);
    return r;
}
int cbzip2decompressor::Decompress() {
    if (!m_state->active)
        return BZ_SEQUENCE_ERROR;
    bz_stream& s = m_state->stream;
    s.next_in = const_cast<char*>(reinterpret_cast<const char*>(m_in));
    s.avail_in = m_inLeft;
    s.next_out = reinterpret_cast<char*>(m_out);
    s.avail_out = m_outLeft;
    const int r = BZ2_bzDecompress(&s);
    m_in = reinterpret_cast<const std::uint8_t*>(s.next_in);
    m_inLeft = s.avail_in;
    m_out = reinterpret_cast<std::uint8_t*>(s.next_out);
    m_outLeft = s.avail_out;
    return r;
}
int cbzip2decompressor::End() {
    if (!m_state->active)
        return 0;
    m_state->active = false;
    return BZ2_bzDecompressEnd(&m_state->stream);
}

// ----------------------------------------------------------------------------------- zlib

// One block after another with the same level reuses the deflate state (deflateReset gives
// the same stream as a fresh deflateInit); it is freed with the compressor.
CZlibCompressor::CZlibCompressor() = default;
CZlibCompressor::~CZlibCompressor() {
    if (m_state)
        deflateEnd(&m_state->stream);
}

int CZlibCompressor::Init(int level, std::uint32_t /*dictionarySize*/) {
    End();
    if (m_state && m_state->level == level && deflateReset(&m_state->stream) == Z_OK) {
        m_state->active = true;
        return 0;
    }
    if (m_state) {
        deflateEnd(&m_state->stream);
        m_state.reset();
    }
    m_state.reset(new (std::nothrow) ZlibCompressState);
    if (!m_state)
        return Z_MEM_ERROR;
    int r = deflateInit(&m_state->stream, level);
    if (r != Z_OK) {
        m_state.reset();
        return r < 0 ? r : Z_STREAM_ERROR;
    }
    m_state->level = level;
    m_state->active = true;
    return 0;
}

int CZlibCompressor::End() {
    if (m_state)
        m_state->active = false;
    return 0;
}

int CZlibCompressor::Compress(bool finish) {
    if (!m_state || !m_state->active)
        return Z_STREAM_ERROR;
    z_stream& s = m_state->stream;
    s.next_in = const_cast<Bytef*>(m_in);
    s.avail_in = m_inLeft;
    s.next_out = m_out;
    s.avail_out = m_outLeft;
    int r = deflate(&s, finish ? Z_FINISH : Z_NO_FLUSH);
    m_in = s.next_in;
    m_inLeft = s.avail_in;
    m_out = s.next_out;
    m_outLeft = s.avail_out;
    return r;
}

const char* CZlibCompressor::GetErrorText(int code) { return LookUp(kZlibErrors, code); }

czlibdecompressor::czlibdecompressor() : m_state(std::make_unique<ZlibDecompressState>()) {}
czlibdecompressor::~czlibdecompressor() {
    if (m_state->allocated)
        inflateEnd(&m_state->stream);
}

int czlibdecompressor::Init() {
    End();
    int r;
    if (m_state->allocated) {
        r = inflateReset(&m_state->stream);
    } else {
        m_state->stream = z_stream{};
        r = inflateInit(&m_state->stream);
        m_state->allocated = (r == Z_OK);
    }
    m_state->active = (r == Z_OK);
    return r;
}
int czlibdecompressor::Decompress() {
    if (!m_state->active)
        return Z_STREAM_ERROR;
    z_stream& s = m_state->stream;
    s.next_in = const_cast<Bytef*>(m_in);
    s.avail_in = m_inLeft;
    s.next_out = m_out;
    s.avail_out = m_outLeft;
    int r = inflate(&s, Z_NO_FLUSH);
    m_in = s.next_in;
    m_inLeft = s.avail_in;
    m_out = s.next_out;
    m_outLeft = s.avail_out;
    // Block streams never use a preset dictionary: asking for one means the data is damaged.
    return r == Z_NEED_DICT ? Z_DATA_ERROR : r;
}
int czlibdecompressor::End() {
    if (!m_state->active)
        return Z_STREAM_ERROR;
    m_state->active = false;  // the allocation is kept for the next block
    return Z_OK;
}

// ----------------------------------------------------------------------------------- LZMA

CLZMACompressor::CLZMACompressor() = default;
CLZMACompressor::~CLZMACompressor() {
    End();
    if (m_state)
        lzma_end(&m_state->stream);
}

int CLZMACompressor::Init(int /*level*/, std::uint32_t dictionarySize) {
    End();
    m_stopped = false;
    m_result = 0;
    m_propsPending = 0;

    lzma_options_lzma options;
    if (lzma_lzma_preset(&options, 6))
        return -2;
    options.dict_size = std::clamp<std::uint32_t>(dictionarySize, LZMA_DICT_SIZE_MIN, kMaxDictionary);
    options.mode = LZMA_MODE_NORMAL;
    options.nice_len = 64;
    lzma_filter filters[2] = {{LZMA_FILTER_LZMA1, &options}, {LZMA_VLI_UNKNOWN, nullptr}};

    if (lzma_properties_encode(&filters[0], m_props) != LZMA_OK) {
        m_stopped = true;
        return -2;
    }
    if (!m_state)
        m_state.reset(new (std::nothrow) LzmaCompressState);
    if (!m_state) {
        m_stopped = true;
        return -5;
    }
    // Re-initialising the kept stream lets liblzma reuse its buffers.
    lzma_ret r = lzma_raw_encoder(&m_state->stream, filters);
    if (r != LZMA_OK) {
        m_stopped = true;
        return r == LZMA_MEM_ERROR ? -5 : -2;
    }
    m_propsPending = sizeof m_props;
    return 0;
}

int CLZMACompressor::End() {
    m_stopped = true;
    m_in = nullptr;
    m_inLeft = 0;
    m_out = nullptr;
    m_outLeft = 0;
    return 0;
}

int CLZMACompressor::Compress(bool finish) {
    if (m_stopped || !m_state)
        return finish ? 0 : -1;
    // The properties header comes first.
    while (m_propsPending && m_outLeft) {
        *m_out++ = m_props[sizeof m_props - m_propsPending];
        --m_propsPending;
        --m_outLeft;
    }
    if (m_propsPending)
        return 0;

    lzma_stream& s = m_state->stream;
    s.next_in = m_in;
    s.avail_in = m_inLeft;
    s.next_out = m_out;
    s.avail_out = m_outLeft;
    lzma_ret r = lzma_code(&s, finish ? LZMA_FINISH : LZMA_RUN);
    m_in = s.next_in;
    m_inLeft = static_cast<std::uint32_t>(s.avail_in);
    m_out = s.next_out;
    m_outLeft = static_cast<std::uint32_t>(s.avail_out);
    switch (r) {
    case LZMA_OK:
    case LZMA_BUF_ERROR:  // no room to move: the caller sees no progress
        return 0;
    case LZMA_STREAM_END:
        m_stopped = true;
        m_result = 1;
        return 1;
    case LZMA_MEM_ERROR:
        m_result = -5;
        break;
    default:
        m_result = -4;
        break;
    }
    m_stopped = true;
    return m_result;
}

const char* CLZMACompressor::GetErrorText(int code) { return LookUp(kLzmaErrors, code); }

clzmadecompressor::clzmadecompressor() : m_state(std::make_unique<LzmaDecompressState>()) {}
clzmadecompressor::~clzmadecompressor() {
    End();
    lzma_end(&m_state->stream);
}

int clzmadecompressor::Init() {
    // The decoder keeps its allocation between blocks; lzma_raw_decoder re-initialises it.
    m_state->decoderReady = false;
    m_state->failed = false;
    m_state->propsHave = 0;
    return 0;
}

int clzmadecompressor::Decompress() {
    LzmaDecompressState& st = *m_state;
    if (st.failed)
        return -1;
    if (!st.decoderReady) {
        while (st.propsHave < sizeof st.props && m_inLeft) {
            st.props[st.propsHave++] = *m_in++;
            --m_inLeft;
        }
        if (st.propsHave < sizeof st.props)
            return 0;
        std::uint32_t lclppb = st.props[0];
        const std::uint32_t dict = ByteSpan(st.props, sizeof st.props).u32(1);
        if (lclppb >= 9 * 5 * 5 || dict > kMaxAcceptedDictionary) {
            st.failed = true;
            return -1;
        }
        lzma_options_lzma options{};
        options.lc = lclppb % 9;
        options.lp = (lclppb / 9) % 5;
        options.pb = lclppb / 45;
        options.dict_size = std::clamp<std::uint32_t>(dict, LZMA_DICT_SIZE_MIN, kImageBlockBytes);
        lzma_filter filters[2] = {{LZMA_FILTER_LZMA1, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
        if (lzma_raw_decoder(&st.stream, filters) != LZMA_OK) {
            st.failed = true;
            return -1;
        }
        st.decoderReady = true;
    }
    st.stream.next_in = m_in;
    st.stream.avail_in = m_inLeft;
    st.stream.next_out = m_out;
    st.stream.avail_out = m_outLeft;
    lzma_ret r = lzma_code(&st.stream, LZMA_RUN);
    m_in = st.stream.next_in;
    m_inLeft = static_cast<std::uint32_t>(st.stream.avail_in);
    m_out = st.stream.next_out;
    m_outLeft = static_cast<std::uint32_t>(st.stream.avail_out);
    switch (r) {
    case LZMA_OK:
        return 0;
    case LZMA_STREAM_END:
        return 1;
    default:
        st.failed = true;
        return -1;
    }
}

int clzmadecompressor::End() { return 0; }

// ------------------------------------------------------------------------------ factories

ICompressor* CreateCompressor(CompressionType type) {
    switch (type) {
    case COMPRESSION_BZIP2:
        return new CBzip2Compressor;
    case COMPRESSION_ZLIB:
        return new CZlibCompressor;
    case COMPRESSION_LZMA:
        return new CLZMACompressor;
    default:
        return nullptr;
    }
}

IDecompressor* CreateImageDecompressor(CompressionType type) {
    switch (type) {
    case COMPRESSION_BZIP2:
        return new cbzip2decompressor;
    case COMPRESSION_ZLIB:
        return new czlibdecompressor;
    case COMPRESSION_LZMA:
        return new clzmadecompressor;
    default:
        return nullptr;
    }
}

ICompressor* CreateZlibCompressor() { return new CZlibCompressor; }
IDecompressor* CreateZlibDecompressor() { return new czlibdecompressor; }

// -------------------------------------------------------------------------- calling orders

std::uint32_t CompressWithCodec(ICompressor* c, int level, std::uint32_t dictionarySize,
                                const void* input, std::uint32_t length, void* output,
                                std::uint32_t capacity) {
    if (!c)
        return 0;
    struct EndOnExit {
        ICompressor* c;
        ~EndOnExit() { c->End(); }
    } ender{c};
    if (c->Init(level, dictionarySize) < 0)
        return 0;
    c->SetInput(input, length);
    std::uint8_t* pos = static_cast<std::uint8_t*>(output);
    std::uint32_t left = capacity;
    while (c->GetInputLeft() != 0) {
        if (left == 0)
            return 0;
        std::uint32_t inBefore = c->GetInputLeft();
        c->SetOutput(pos, left);
        if (c->Compress(false) < 0)
            return 0;
        std::uint8_t* newPos = c->GetOutputPos();
        std::uint32_t newLeft = c->GetOutputLeft();
        if (newLeft == left && c->GetInputLeft() == inBefore)
            return 0;  // no progress: the codec cannot go on in this space
        pos = newPos;
        left = newLeft;
    }
    // Finish until the codec says the stream is complete; a stream that cannot complete in
    // the space left is not stored.
    c->SetOutput(pos, left);
    int stalls = 0;
    for (;;) {
        std::uint32_t leftBefore = c->GetOutputLeft();
        int r = c->Compress(true);
        if (r < 0)
            return 0;
        if (r == 1)
            break;
        // bzip2 reports completion one call after the call that ended the stream, so one call
        // without progress is allowed; a second means the stream cannot finish here.
        if (c->GetOutputLeft() == leftBefore) {
            if (++stalls > 1)
                return 0;
        } else {
            stalls = 0;
        }
    }
    return capacity - c->GetOutputLeft();
}

bool DecompressWithCodec(IDecompressor* d, const void* input, std::uint32_t length, void* output,
                         std::uint32_t capacity, std::uint32_t* produced) {
    *produced = 0;
    if (!d)
        return false;
    struct EndOnExit {
        IDecompressor* d;
        ~EndOnExit() { d->End(); }
    } ender{d};
    if (d->Init() < 0)
        return false;
    d->SetInput(input, length);
    d->SetOutput(output, capacity);
    bool ended = false;
    // One call normally finishes a block; a few more only while output keeps coming.
    for (int round = 0; round < 8; ++round) {
        std::uint32_t leftBefore = d->GetOutputLeft();
        int r = d->Decompress();
        *produced = capacity - d->GetOutputLeft();
        if (r < 0)
            return false;
        if (r > 0) {
            ended = true;
            break;
        }
        if (d->GetOutputLeft() == leftBefore || d->GetOutputLeft() == 0)
            break;
    }
    return ended;
}
