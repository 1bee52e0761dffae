// Path lookup in a large tree against a flat hash map of the same paths, and the serialized
// record's throughput against memcpy of as many bytes. Compare the pairs within one run.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "vartree/tvar.h"

namespace {

std::string Name(const char* prefix, unsigned n) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%s%u", prefix, n);
  return buf;
}

// "AppVar.G<g>.I<i>.L<l>": 10 groups of 100 items of 100 leaves, about 101,000 nodes.
struct LookupTree {
  static std::string Path(unsigned g, unsigned i, unsigned l) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "AppVar.G%u.I%u.L%u", g, i, l);
    return buf;
  }
  LookupTree() {
    for (unsigned g = 0; g < 10; ++g) {
      for (unsigned i = 0; i < 100; ++i) {
        for (unsigned l = 0; l < 100; ++l) {
          const std::string path = Path(g, i, l);
          CtVar& node = root[path.c_str()];
          node = static_cast<double>(l);
          map.emplace(path, &node);
        }
      }
    }
    std::mt19937 rng(7);
    for (int k = 0; k < 4096; ++k) paths.push_back(Path(rng() % 10, rng() % 100, rng() % 100));
  }
  CtVar root;
  std::unordered_map<std::string, CtVar*> map;
  std::vector<std::string> paths;
};

LookupTree& Lookup() {
  static LookupTree tree;
  return tree;
}

void BM_PathIndexOperator(benchmark::State& state) {
  LookupTree& t = Lookup();
  size_t k = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(&t.root[t.paths[k++ & 4095].c_str()]);
  }
}
BENCHMARK(BM_PathIndexOperator);

void BM_PathGetChild(benchmark::State& state) {
  LookupTree& t = Lookup();
  size_t k = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(t.root.GetChild(t.paths[k++ & 4095].c_str()));
  }
}
BENCHMARK(BM_PathGetChild);

void BM_PathHashMap(benchmark::State& state) {
  LookupTree& t = Lookup();
  size_t k = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(t.map.find(t.paths[k++ & 4095]));
  }
}
BENCHMARK(BM_PathHashMap);

// 100 branches of 99 leaves, a quarter of them texts: 10,000 nodes with the root.
void BuildRecordTree(CtVar& root) {
  for (unsigned b = 0; b < 100; ++b) {
    CtVar& branch = root[Name("Branch", b).c_str()];
    for (int l = 0; l < 99; ++l) {
      CtVar& leaf = branch[l];
      if (l % 4 == 0) {
        leaf = "some text value";
      } else {
        leaf = l * 1.5;
      }
    }
  }
}

struct RecordTree {
  RecordTree() {
    BuildRecordTree(root);
    record = root.SerializeTree();
  }
  CtVar root;
  std::vector<uint8_t> record;
};

RecordTree& Record() {
  static RecordTree tree;
  return tree;
}

void BM_SerializeTree(benchmark::State& state) {
  RecordTree& t = Record();
  std::vector<uint8_t> out(t.record.size());
  for (auto _ : state) {
    benchmark::DoNotOptimize(t.root.SerializeTree(out.data(), static_cast<uint32_t>(out.size())));
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(out.size()));
}
BENCHMARK(BM_SerializeTree);

// Onto a tree of the same shape: every node is found and updated in place.
void BM_UnSerializeTreeMerge(benchmark::State& state) {
  RecordTree& t = Record();
  CtVar target;
  BuildRecordTree(target);
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        target.UnSerializeTree(t.record.data(), static_cast<uint32_t>(t.record.size())));
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(t.record.size()));
}
BENCHMARK(BM_UnSerializeTreeMerge);

// Onto an empty root: every node is created (and deleted again with the root).
void BM_UnSerializeTreeFresh(benchmark::State& state) {
  RecordTree& t = Record();
  for (auto _ : state) {
    CtVar target;
    benchmark::DoNotOptimize(
        target.UnSerializeTree(t.record.data(), static_cast<uint32_t>(t.record.size())));
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(t.record.size()));
}
BENCHMARK(BM_UnSerializeTreeFresh);

void BM_MemcpyRecord(benchmark::State& state) {
  RecordTree& t = Record();
  std::vector<uint8_t> out(t.record.size());
  for (auto _ : state) {
    std::memcpy(out.data(), t.record.data(), t.record.size());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(t.record.size()));
}
BENCHMARK(BM_MemcpyRecord);

}  // namespace
