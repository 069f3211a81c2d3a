// The sector search asks, for every sector, which found extent covers it and
// reaches furthest. Compares the tree walk with the extent index on 100,000 extents.
#include <benchmark/benchmark.h>

#include <random>

#include "FSAccessCommon.h"

namespace {

constexpr size_t kExtents = 100000;
constexpr uint64_t kCardBytes = 32ull << 30;

// 100 folders of 1,000 files each, extents scattered over a 32 GiB card.
FSAccessLib::DirEntry& Tree() {
    static FSAccessLib::DirEntry root = [] {
        std::mt19937_64 rng(42);
        std::uniform_int_distribution<uint64_t> start(0, kCardBytes), length(512, 8 << 20);
        FSAccessLib::DirEntry tree;
        for (size_t f = 0; f < kExtents / 1000; ++f) {
            FSAccessLib::DirEntry folder;
            folder.name = u"FOLDER";
            for (size_t i = 0; i < 1000; ++i) {
                FSAccessLib::DirEntry file("FILE    ", "MTS");
                file.start = start(rng) / 512 * 512;
                file.length = length(rng);
                folder.children.push_back(std::move(file));
            }
            tree.children.push_back(std::move(folder));
        }
        tree.Relink(nullptr);
        return tree;
    }();
    return root;
}

uint64_t NextPosition(std::mt19937_64& rng) {
    return std::uniform_int_distribution<uint64_t>(0, kCardBytes)(rng) / 512 * 512;
}

void BM_WalkQuery(benchmark::State& state) {
    FSAccessLib::DirEntry& root = Tree();
    std::mt19937_64 rng(7);
    for (auto _ : state) {
        FSAccessLib::CommandSearchExistingDataBlock search(NextPosition(rng));
        root.Apply(search);
        benchmark::DoNotOptimize(search.foundEnd);
    }
}
BENCHMARK(BM_WalkQuery)->Unit(benchmark::kMicrosecond);

void BM_IndexQuery(benchmark::State& state) {
    FSAccessLib::DirEntry& root = Tree();
    FSAccessLib::ExtentIndex index;
    index.AddTree(root);
    std::mt19937_64 rng(7);
    for (auto _ : state) {
        uint64_t end = 0;
        benchmark::DoNotOptimize(index.Query(root, NextPosition(rng), end));
        benchmark::DoNotOptimize(end);
    }
}
BENCHMARK(BM_IndexQuery)->Unit(benchmark::kNanosecond);

void BM_IndexBuild(benchmark::State& state) {
    FSAccessLib::DirEntry& root = Tree();
    for (auto _ : state) {
        FSAccessLib::ExtentIndex index;
        index.AddTree(root);
        benchmark::DoNotOptimize(index.ExtentCount());
    }
}
BENCHMARK(BM_IndexBuild)->Unit(benchmark::kMillisecond);

// The sector search's pattern: a query per sector, an append now and then.
void BM_IndexQueryWhileAppending(benchmark::State& state) {
    FSAccessLib::DirEntry root = Tree();
    FSAccessLib::ExtentIndex index;
    index.AddTree(root);
    std::mt19937_64 rng(9);
    uint64_t queries = 0;
    for (auto _ : state) {
        uint64_t end = 0;
        benchmark::DoNotOptimize(index.Query(NextPosition(rng)).foundEnd);
        if (++queries % 100 == 0) {
            FSAccessLib::DirEntry carved("CARVED  ", "MTS");
            carved.start = NextPosition(rng);
            carved.length = 1 << 20;
            root.children.push_back(std::move(carved));
            root.children.back().parent = &root;
            index.AddSubtree(root.children.back(), FSAccessLib::EntryKey{uint32_t(root.children.size() - 1)});
        }
        benchmark::DoNotOptimize(end);
    }
}
BENCHMARK(BM_IndexQueryWhileAppending)->Unit(benchmark::kNanosecond);

} // namespace

BENCHMARK_MAIN();
