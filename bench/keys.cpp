// Key naming runs on the video compressor's worker for every frame with a key: naming a
// key and its modifiers must stay far below a frame's time. Also measured: a layout switch
// (new keymap, reverse table rebuilt), which readers never wait for.
#include <benchmark/benchmark.h>

#include "Keys/SRKeyCodeTransformer.h"
#include "Keys/SRKeyNaming.h"
#include "Keys/SRKeyboardLayout.h"
#include "Keys/ZVKeyCodeTable.h"

static void BM_StringForLetterKey(benchmark::State& state) {
    SRKeyboardLayout::select("us");
    for (auto _ : state) benchmark::DoNotOptimize(SRStringForKeyCode(kVK_ANSI_A));
}
BENCHMARK(BM_StringForLetterKey);

static void BM_GlyphsAndKeyName(benchmark::State& state) {
    SRKeyboardLayout::select("us");
    for (auto _ : state) {
        benchmark::DoNotOptimize(SRStringForCocoaModifierFlagsAndKeyCode(0x1E0000, kVK_ANSI_Z));
    }
}
BENCHMARK(BM_GlyphsAndKeyName);

static void BM_KeyCodeForName(benchmark::State& state) {
    SRKeyboardLayout::select("us");
    auto transformer = SRKeyCodeTransformer::transformer();
    for (auto _ : state) benchmark::DoNotOptimize(transformer->keyCodeForName("Z"));
}
BENCHMARK(BM_KeyCodeForName);

static void BM_LayoutSwitch(benchmark::State& state) {
    auto transformer = SRKeyCodeTransformer::transformer();  // rebuilds on every switch
    bool german = false;
    for (auto _ : state) {
        german = !german;
        SRKeyboardLayout::select(german ? "de" : "us");
    }
}
BENCHMARK(BM_LayoutSwitch)->Unit(benchmark::kMillisecond);

static void BM_X11KeyCodeToMac(benchmark::State& state) {
    int code = 8;
    for (auto _ : state) {
        benchmark::DoNotOptimize(ZVKeyCodeTable::macKeyCodeForX11KeyCode(code));
        code = code == 255 ? 8 : code + 1;
    }
}
BENCHMARK(BM_X11KeyCodeToMac);
