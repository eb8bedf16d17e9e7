#include "testdrivers/endpoint/Recorder.h"

#include <windows.h>

#include <cstdio>

namespace PomaroTestEndpoint {

namespace {
std::wstring numberedPath(const std::wstring& base, unsigned n)
{
    std::wstring suffix = L"-" + std::to_wstring(n);
    size_t dot = base.rfind(L'.');
    size_t slash = base.find_last_of(L"\\/");
    if (dot == std::wstring::npos || (slash != std::wstring::npos && dot < slash))
        return base + suffix;
    return base.substr(0, dot) + suffix + base.substr(dot);
}
} // namespace

Recorder& Recorder::instance()
{
    static Recorder r;
    return r;
}

bool Recorder::open(const std::wstring& path, uint32_t rate)
{
    std::FILE* f = _wfopen(path.c_str(), L"wb");
    return f && wav_.attach(f, PomaroTestDrivers::WavSamples::Int16, rate);
}

void Recorder::beginStream(const std::wstring& wavPath, uint32_t rate)
{
    std::lock_guard<std::mutex> lock(mutex_);
    ++streams_;
    if (wavPath.empty()) {
        wav_.close();
        basePath_.clear();
        return;
    }
    if (wavPath != basePath_ || !wav_.isOpen()) {
        // The first stream of this process (or of a new path) starts the file afresh.
        wav_.close();
        basePath_ = wavPath;
        fileNumber_ = 1;
        open(wavPath, rate);
    } else if (wav_.rate() != rate) {
        wav_.close();
        ++fileNumber_;
        open(numberedPath(basePath_, fileNumber_), rate);
    }
    lastHeaderMs_ = GetTickCount64();
}

void Recorder::append(const int16_t* frames, uint32_t n)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (!wav_.isOpen())
        return;
    wav_.append(frames, n);
    unsigned long long now = GetTickCount64();
    if (now - lastHeaderMs_ >= 100) {
        wav_.updateHeader();
        lastHeaderMs_ = now;
    }
}

void Recorder::endStream(const std::wstring& statsPath, StreamStats stats)
{
    std::lock_guard<std::mutex> lock(mutex_);
    wav_.updateHeader();
    if (statsPath.empty())
        return;
    stats.streams = streams_;
    std::string text = formatStats(stats);
    if (std::FILE* f = _wfopen(statsPath.c_str(), L"wb")) {
        std::fwrite(text.data(), 1, text.size(), f);
        std::fclose(f);
    }
}

uint64_t Recorder::streams()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return streams_;
}

} // namespace PomaroTestEndpoint
