#pragma once
// Log sinks: the plain file and (in LogBuffer.h) the shared-memory buffer.
#include "logging/Log.h"

class ILogSink {
public:
    virtual int Open(const char* name) = 0;
    virtual int Write(const void* data, int length) = 0;

protected:
    ~ILogSink() = default;
};

class OMBREL_API CDirectLog : public ILogSink {
public:
    CDirectLog() = default;
    ~CDirectLog();
    CDirectLog(const CDirectLog&) = delete;
    CDirectLog& operator=(const CDirectLog&) = delete;
    int Open(const char* name) override;
    int Write(const void* data, int length) override;

private:
    int m_fd = -1;
};

// 0: the CDirectLog singleton; 1: the shared-buffer singleton in open mode; otherwise null.
OMBREL_API ILogSink* GetLogSink(LOGTYPE type);
