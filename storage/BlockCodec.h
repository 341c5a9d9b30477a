#pragma once
// Block codecs: every block is compressed into one complete, self-contained stream of bzip2,
// zlib or raw LZMA1 (a 5-byte properties header, then the stream with its end marker).
// Disk images and the scan-state store use them through the two interfaces below.
#include "storage/FileSystemType.h"

#include <cstdint>
#include <memory>

// Size of one disk-image block and the output space given to a compressor for it.
constexpr std::uint32_t kImageBlockSectors = 256;
constexpr std::uint32_t kImageBlockBytes = kImageBlockSectors * 512;  // 131072
constexpr std::uint32_t kImageStoredBlockCapacity = 131334;

class ICompressor {
public:
    virtual ~ICompressor() = default;
    // Starts a new stream. 0, or a negative error code.
    virtual int Init(int level, std::uint32_t dictionarySize) = 0;
    // Ends the stream and frees its state.
    virtual int End() = 0;
    // 0 = progress made, 1 = stream complete, negative = error.
    virtual int Compress(bool finish) = 0;
    virtual void SetInput(const void* data, std::uint32_t length) = 0;
    virtual void SetOutput(void* data, std::uint32_t capacity) = 0;
    virtual std::uint8_t* GetOutputPos() = 0;
    virtual std::uint32_t GetInputLeft() = 0;
    virtual std::uint32_t GetOutputLeft() = 0;
    virtual const char* GetName() = 0;
    virtual const char* GetErrorText(int code) = 0;
};

class IDecompressor {
public:
    virtual ~IDecompressor() = default;
    virtual int Init() = 0;
    virtual void SetInput(const void* data, std::uint32_t length) = 0;
    virtual void SetOutput(void* data, std::uint32_t capacity) = 0;
    virtual std::uint32_t GetOutputLeft() = 0;
    // Negative = error; 0 = more input or output space needed; positive = the stream ended
    // (bzip2 reports 4, zlib and LZMA 1).
    virtual int Decompress() = 0;
    virtual int End() = 0;
};

// 0 -> null (blocks are stored raw), 1 -> bzip2, 2 -> zlib, 3 -> LZMA, anything else -> null.
ICompressor* CreateCompressor(CompressionType type);
// 1 -> bzip2, 2 -> zlib, 3 -> LZMA, anything else -> null (blocks are copied raw).
IDecompressor* CreateImageDecompressor(CompressionType type);
ICompressor* CreateZlibCompressor();
IDecompressor* CreateZlibDecompressor();

// Runs the compressor calling order over one block. Returns the length of the complete stream
// written to `output`, or 0 when the codec failed or its stream did not finish within
// `capacity` (the caller then stores the block raw). End() is always called.
std::uint32_t CompressWithCodec(ICompressor* compressor, int level, std::uint32_t dictionarySize,
                                const void* input, std::uint32_t length, void* output,
                                std::uint32_t capacity);

// Runs the decompressor calling order over one stored block. Returns true only when the
// stream ended; *produced is the number of bytes written to `output`. End() is always called.
bool DecompressWithCodec(IDecompressor* decompressor, const void* input, std::uint32_t length,
                         void* output, std::uint32_t capacity, std::uint32_t* produced);

// The library stream states live in the .cpp.
struct Bzip2CompressState;
struct ZlibCompressState;
struct LzmaCompressState;
struct Bzip2DecompressState;
struct ZlibDecompressState;
struct LzmaDecompressState;

// The input and output bookkeeping the three compressors share: the buffers are kept here
// (also while no library stream exists, so the getters always answer) and each codec advances
// them as it consumes and produces bytes.
class CBufferedCompressor : public ICompressor {
public:
    void SetInput(const void* data, std::uint32_t length) override {
        m_in = static_cast<const std::uint8_t*>(data);
        m_inLeft = length;
    }
    void SetOutput(void* data, std::uint32_t capacity) override {
        m_out = static_cast<std::uint8_t*>(data);
        m_outLeft = capacity;
    }
    std::uint8_t* GetOutputPos() override { return m_out; }
    std::uint32_t GetInputLeft() override { return m_inLeft; }
    std::uint32_t GetOutputLeft() override { return m_outLeft; }

protected:
    const std::uint8_t* m_in = nullptr;
    std::uint32_t m_inLeft = 0;
    std::uint8_t* m_out = nullptr;
    std::uint32_t m_outLeft = 0;
};

class CBzip2Compressor : public CBufferedCompressor {
public:
    CBzip2Compressor();
    ~CBzip2Compressor() override;
    CBzip2Compressor(const CBzip2Compressor&) = delete;
    CBzip2Compressor& operator=(const CBzip2Compressor&) = delete;
    int Init(int level, std::uint32_t dictionarySize) override;
    int End() override;
    int Compress(bool finish) override;
    const char* GetName() override { return "bzip2"; }
    const char* GetErrorText(int code) override;

private:
    std::unique_ptr<Bzip2CompressState> m_state;
    int m_lastResult = 0;
};

class CZlibCompressor : public CBufferedCompressor {
public:
    CZlibCompressor();
    ~CZlibCompressor() override;
    CZlibCompressor(const CZlibCompressor&) = delete;
    CZlibCompressor& operator=(const CZlibCompressor&) = delete;
    int Init(int level, std::uint32_t dictionarySize) override;
    int End() override;
    int Compress(bool finish) override;
    const char* GetName() override { return "zlib"; }
    const char* GetErrorText(int code) override;

private:
    std::unique_ptr<ZlibCompressState> m_state;
};

// Raw LZMA1 through liblzma's push-style encoder. The stream starts with the 5-byte
// properties header (lc/lp/pb byte, then the little-endian dictionary size) and ends with the
// end marker. The dictionary is at most one block (128 KiB): a larger request is cut to that,
// and the stored properties say what was used.
class CLZMACompressor : public CBufferedCompressor {
public:
    static constexpr std::uint32_t kMaxDictionary = kImageBlockBytes;

    CLZMACompressor();
    ~CLZMACompressor() override;
    CLZMACompressor(const CLZMACompressor&) = delete;
    CLZMACompressor& operator=(const CLZMACompressor&) = delete;
    int Init(int level, std::uint32_t dictionarySize) override;
    int End() override;
    int Compress(bool finish) override;
    const char* GetName() override { return "lzma"; }
    const char* GetErrorText(int code) override;

private:
    std::unique_ptr<LzmaCompressState> m_state;
    // Properties header bytes not yet written to the output.
    std::uint8_t m_props[5] = {};
    std::uint32_t m_propsPending = 0;
    bool m_stopped = true;  // no stream, or the stream completed or failed
    int m_result = 0;
};

// The input and output bookkeeping the three decompressors share, like CBufferedCompressor:
// each codec takes its input from and writes its output to these buffers and advances them.
class CBufferedDecompressor : public IDecompressor {
public:
    void SetInput(const void* data, std::uint32_t length) override {
        m_in = static_cast<const std::uint8_t*>(data);
        m_inLeft = length;
    }
    void SetOutput(void* data, std::uint32_t capacity) override {
        m_out = static_cast<std::uint8_t*>(data);
        m_outLeft = capacity;
    }
    std::uint32_t GetOutputLeft() override { return m_outLeft; }

protected:
    const std::uint8_t* m_in = nullptr;
    std::uint32_t m_inLeft = 0;
    std::uint8_t* m_out = nullptr;
    std::uint32_t m_outLeft = 0;
};

class cbzip2decompressor : public CBufferedDecompressor {
public:
    cbzip2decompressor();
    ~cbzip2decompressor() override;
    cbzip2decompressor(const cbzip2decompressor&) = delete;
    cbzip2decompressor& operator=(const cbzip2decompressor&) = delete;
    int Init() override;
    int Decompress() override;
    int End() override;

private:
    std::unique_ptr<Bzip2DecompressState> m_state;
};

class czlibdecompressor : public CBufferedDecompressor {
public:
    czlibdecompressor();
    ~czlibdecompressor() override;
    czlibdecompressor(const czlibdecompressor&) = delete;
    czlibdecompressor& operator=(const czlibdecompressor&) = delete;
    int Init() override;
    int Decompress() override;
    int End() override;

private:
    std::unique_ptr<ZlibDecompressState> m_state;
};

// Raw LZMA1 decoder for the streams above. A properties byte of 225 or more and a dictionary
// above 8 MiB (more than any writer uses) are refused; the dictionary buffer is never larger
// than one block, which is all a block's stream can refer back to.
class clzmadecompressor : public CBufferedDecompressor {
public:
    static constexpr std::uint32_t kMaxAcceptedDictionary = 8u << 20;

    clzmadecompressor();
    ~clzmadecompressor() override;
    clzmadecompressor(const clzmadecompressor&) = delete;
    clzmadecompressor& operator=(const clzmadecompressor&) = delete;
    int Init() override;
    int Decompress() override;
    int End() override;

private:
    std::unique_ptr<LzmaDecompressState> m_state;
};
