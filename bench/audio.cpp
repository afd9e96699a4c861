// Audio capture costs: the CPU that one second of 44.1 kHz stereo capture plus WAV
// writing takes (from a synthetic device that produces frames in real time), and how fast
// the WAV writer drains a backlog.
#include <benchmark/benchmark.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>

#include "ZorvanInternal.h"

namespace {

double processCpuSeconds() {
    timespec ts;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

double monotonicSeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// A capture device that produces 44.1 kHz stereo frames as the clock advances, up to its
// buffer size, the way a sound card fills OpenAL's capture buffer.
struct SyntheticDevice {
    std::atomic<double> started{0};
    std::atomic<int64_t> consumed{0};
    int64_t available() const {
        double s = started.load();
        return s == 0 ? 0 : int64_t((monotonicSeconds() - s) * 44100) - consumed.load();
    }
} gDevice;

const ZVOpenALProvider kSynthetic = {
    [](const char*, uint32_t, int32_t, int32_t) -> void* { return &gDevice; },
    [](void*) -> int32_t { return 0; },
    [](void*) {
        if (gDevice.started.load() == 0) gDevice.started.store(monotonicSeconds());
    },
    [](void*) {},
    [](void*, int32_t param, int32_t, int32_t* v) {
        // Frames ready, up to the buffer's size; the device stays connected.
        *v = param != kZVALCCaptureSamples
                 ? 1
                 : int32_t(
                       std::min<int64_t>(gDevice.available(), kSoundInputRecorderDefultSliceSize));
    },
    [](void*, void* buffer, int32_t frames) {
        // A ramp, so the samples are not all zero pages.
        auto* s = static_cast<int16_t*>(buffer);
        for (int32_t i = 0; i < frames * 2; ++i) s[i] = int16_t(i * 13);
        gDevice.consumed += frames;
    },
    [](void*) -> bool { return true; },
};

std::string scratchPath(const char* name) {
    return std::string("/tmp/zorvan-bench-") + name;
}

// Waits for a stage's worker to end, then runs the delegate hand-offs it queued.
void waitUntilEnded(const std::function<bool()>& launched) {
    while (launched()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ZVRunLoop::main().runOnce();
}

// Records `seconds` from `recorder` into a WAV file; the process's CPU seconds it took,
// and the seconds of sound in *audio.
double recordCpuSeconds(ZVSoundInputRecorder& recorder, double seconds, double* audio) {
    ZVQueue queue;
    auto writer = ZVWavIO::wavIOForWriting(scratchPath("capture.wav"), recorder.format());
    recorder.setDataDestination(&queue);
    writer->setDataSource(&queue);
    const double cpu0 = processCpuSeconds();
    writer->start();
    while (!writer->isRunning()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    recorder.setSuspended(false);
    recorder.start();
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    recorder.stop();
    waitUntilEnded([&] { return recorder.isLaunched(); });
    writer->finalize();
    waitUntilEnded([&] { return writer->isLaunched(); });
    *audio += recorder.totalFramesRead() / 44100.0;
    unlink(scratchPath("capture.wav").c_str());
    return processCpuSeconds() - cpu0;
}

void BM_CaptureAndWavWritingCpuPerSecond(benchmark::State& state) {
    ZVPlatformServices services = ZVPlatformDefaults();
    services.capture = ZVOpenALCaptureProvider(&kSynthetic);
    const double seconds = 3;
    double cpu = 0, audio = 0;
    for (auto _ : state) {
        gDevice.started = 0;
        gDevice.consumed = 0;
        cpu += recordCpuSeconds(*ZVSoundInputRecorder::initWithDevice("synthetic", services),
                                seconds, &audio);
    }
    state.counters["cpu_ms_per_audio_s"] = audio > 0 ? 1000 * cpu / audio : 0;
    state.counters["cpu_percent"] = audio > 0 ? 100 * cpu / audio : 0;
}
BENCHMARK(BM_CaptureAndWavWritingCpuPerSecond)
    ->Iterations(2)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

// The same through a real sound server (PULSE_SERVER, a source named by ZV_BENCH_SOURCE,
// "Monitor of Mic_Feed" by default): openal-soft's capture (0, what the recorder used
// before) against the server's own stream (1).
void BM_ServerCaptureCpuPerSecond(benchmark::State& state) {
    const char* source = std::getenv("ZV_BENCH_SOURCE");
    ZVPlatformServices services = ZVPlatformDefaults();
    if (!state.range(0)) services.capture = ZVOpenALCaptureProvider(ZVOpenALSoftProvider());
    double cpu = 0, audio = 0;
    for (auto _ : state) {
        auto recorder =
            ZVSoundInputRecorder::initWithDevice(source ? source : "Monitor of Mic_Feed", services);
        if (!recorder) {
            state.SkipWithError("no sound server or no such source");
            break;
        }
        cpu += recordCpuSeconds(*recorder, 5, &audio);
    }
    state.counters["cpu_ms_per_audio_s"] = audio > 0 ? 1000 * cpu / audio : 0;
}
BENCHMARK(BM_ServerCaptureCpuPerSecond)
    ->Arg(0)
    ->Arg(1)
    ->Iterations(2)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

void BM_WavWriterBacklog(benchmark::State& state) {
    const int64_t backlogBytes = state.range(0) << 20;
    const ZVSoundFormat format{2, 16, 44100, kZVSoundFormatSignedInteger};
    const int32_t frames = 4096;
    for (auto _ : state) {
        state.PauseTiming();
        ZVQueue queue;
        queue.setLimit(kZVQueueNoLimit);
        for (int64_t made = 0; made < backlogBytes; made += frames * 4) {
            auto p = ZVSoundPacket::soundPacketWithFormat(format, frames);
            std::memset(p->baseAddres(), 0x33, size_t(p->bufferSize()));
            queue.addObject(p);
        }
        auto writer = ZVWavIO::wavIOForWriting(scratchPath("backlog.wav"), format);
        writer->setDataSource(&queue);
        state.ResumeTiming();
        writer->start();
        while (!writer->isRunning() && writer->isLaunched())
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        writer->finalize();
        waitUntilEnded([&] { return writer->isLaunched(); });
    }
    unlink(scratchPath("backlog.wav").c_str());
    state.SetBytesProcessed(int64_t(state.iterations()) * backlogBytes);
}
BENCHMARK(BM_WavWriterBacklog)->Arg(64)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
