// Reply-line decoding against memcpy of the same bytes: RecordText → bytes → FieldRecord for a
// realistic statement line of about 300 characters; and the heap a stored row costs.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "platform/codepage.h"
#include "record/field_record.h"
#include "sim/record_encoder.h"

// Counting allocator: every operator new of this program records the size it was asked for in
// a header, so that the live bytes before and after building a row give the row's heap cost.
// Bytes asked for, not malloc's own block overhead (about 8-16 bytes a block on glibc).
namespace {
std::atomic<int64_t> g_liveBytes{0}, g_liveBlocks{0};
constexpr std::size_t kHeader = 16;  // keeps the 16-byte alignment operator new promises
}  // namespace

void* operator new(std::size_t n) {
  auto* p = static_cast<unsigned char*>(std::malloc(n + kHeader));
  if (!p) throw std::bad_alloc();
  std::memcpy(p, &n, sizeof n);
  g_liveBytes.fetch_add(static_cast<int64_t>(n), std::memory_order_relaxed);
  g_liveBlocks.fetch_add(1, std::memory_order_relaxed);
  return p + kHeader;
}
void operator delete(void* q) noexcept {
  if (!q) return;
  auto* p = static_cast<unsigned char*>(q) - kHeader;
  std::size_t n;
  std::memcpy(&n, p, sizeof n);
  g_liveBytes.fetch_sub(static_cast<int64_t>(n), std::memory_order_relaxed);
  g_liveBlocks.fetch_sub(1, std::memory_order_relaxed);
  std::free(p);
}
void operator delete(void* q, std::size_t) noexcept { operator delete(q); }

namespace {

using kdx::FieldRecord;

struct Line {
  std::u16string text;    // the RecordText as the reply handler holds it
  std::size_t wireBytes;  // its size in the reply body, one byte per character
};

Line MakeLine(const FieldRecord& record) {
  kdx::sim::EncodeOptions options;
  options.recordType = 1;
  Line l;
  l.text = kdx::sim::EncodeRecordText(kdx::sim::EncodeRecord(record, options));
  l.wireBytes = l.text.size();
  return l;
}

// 12 numbers and 12 strings, some Chinese: 282 characters.
const Line& StatementLine() {
  static const Line line = [] {
    FieldRecord record;
    const int64_t numbers[] = {1, 4, 1250000, -3500, 98765432100, 0, 63, 3583, 802815, -1, 20240611, 153000};
    for (int i = 0; i < 12; ++i) record.SetNumber(i, numbers[i]);
    const char16_t* strings[] = {u"9A95",         u"9A95-0012345-00",      u"王小明",      u"TWD",
                                 u"現金餘額(交割款,T+2)", u"1,250,000",          u"3,201.55",    u"2024/06/11 13:30:00",
                                 u"台積電(2330)", u"2330",                u"普通股現股 集中市場", u"ORV.TWS.2330 台灣積體電路製造"};
    for (int i = 0; i < 12; ++i) record.SetString(i, strings[i]);
    return MakeLine(record);
  }();
  return line;
}

// A short row: one number and two strings.
const Line& ShortLine() {
  static const Line line = [] {
    FieldRecord record;
    record.SetNumber(0, 4);
    record.SetString(1, u"2330");
    record.SetString(2, u"台積電");
    return MakeLine(record);
  }();
  return line;
}

const Line& LineOf(int64_t which) { return which == 0 ? StatementLine() : ShortLine(); }

// What the reply handler does per line: RecordText into its fixed buffer, then a fresh record.
int DecodeLine(const std::u16string& text, unsigned char* buffer, FieldRecord& record) {
  const int size = kdx::DecodeRecordText(buffer, 8192, text.data(), static_cast<int>(text.size()));
  return record.Decode(buffer, 0, size);
}

int DecodeLine(const std::u16string& text, unsigned char* buffer) {
  FieldRecord record;
  const int type = DecodeLine(text, buffer, record);
  benchmark::DoNotOptimize(record.GetString(11));
  return type;
}

void BM_DecodeReplyLine(benchmark::State& state) {
  const Line& line = LineOf(state.range(0));
  std::vector<unsigned char> buffer(8192);
  for (auto _ : state) benchmark::DoNotOptimize(DecodeLine(line.text, buffer.data()));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * line.wireBytes));
  state.counters["chars"] = static_cast<double>(line.text.size());
}
BENCHMARK(BM_DecodeReplyLine)->Arg(0)->Arg(1);

// Heap bytes (and blocks) one stored row holds, the object included: decoded, then copied into
// a fresh record as the query table stores it.
void BM_StoredRowBytes(benchmark::State& state) {
  const Line& line = LineOf(state.range(0));
  std::vector<unsigned char> buffer(8192);
  FieldRecord decoded;
  DecodeLine(line.text, buffer.data(), decoded);
  int64_t bytes = 0, blocks = 0;
  for (auto _ : state) {
    const int64_t bytesBefore = g_liveBytes.load(), blocksBefore = g_liveBlocks.load();
    auto row = std::make_unique<FieldRecord>();
    row->CopyFrom(decoded);
    bytes = g_liveBytes.load() - bytesBefore;
    blocks = g_liveBlocks.load() - blocksBefore;
    benchmark::DoNotOptimize(row.get());
  }
  state.counters["row_bytes"] = static_cast<double>(bytes);
  state.counters["row_blocks"] = static_cast<double>(blocks);
}
BENCHMARK(BM_StoredRowBytes)->Arg(0)->Arg(1);

void BM_RecordTextOnly(benchmark::State& state) {
  const Line& line = StatementLine();
  std::vector<unsigned char> buffer(8192);
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        kdx::DecodeRecordText(buffer.data(), 8192, line.text.data(), static_cast<int>(line.text.size())));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * line.wireBytes));
}
BENCHMARK(BM_RecordTextOnly);

void BM_Memcpy(benchmark::State& state) {
  const Line& line = StatementLine();
  std::vector<char> from(line.wireBytes, 'x'), to(line.wireBytes);
  for (auto _ : state) {
    std::memcpy(to.data(), from.data(), line.wireBytes);
    benchmark::DoNotOptimize(to.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * line.wireBytes));
}
BENCHMARK(BM_Memcpy);

// Both in one run, timed in batches, so that their ratio is read from one line.
void BM_DecodeVersusMemcpy(benchmark::State& state) {
  using Clock = std::chrono::steady_clock;
  constexpr int kBatch = 2000;
  const Line& line = StatementLine();
  std::vector<unsigned char> buffer(8192);
  std::vector<char> from(line.wireBytes, 'x'), to(line.wireBytes);
  Clock::duration decodeTime{}, copyTime{};
  for (auto _ : state) {
    const auto t0 = Clock::now();
    for (int i = 0; i < kBatch; ++i) benchmark::DoNotOptimize(DecodeLine(line.text, buffer.data()));
    const auto t1 = Clock::now();
    for (int i = 0; i < kBatch; ++i) {
      std::memcpy(to.data(), from.data(), line.wireBytes);
      benchmark::DoNotOptimize(to.data());
      benchmark::ClobberMemory();
    }
    const auto t2 = Clock::now();
    decodeTime += t1 - t0;
    copyTime += t2 - t1;
  }
  const double bytes = static_cast<double>(state.iterations()) * kBatch * static_cast<double>(line.wireBytes);
  const double decodeRate = bytes / std::chrono::duration<double>(decodeTime).count();
  const double copyRate = bytes / std::chrono::duration<double>(copyTime).count();
  state.counters["decode_MBps"] = decodeRate / 1e6;
  state.counters["memcpy_MBps"] = copyRate / 1e6;
  state.counters["memcpy_over_decode"] = copyRate / decodeRate;
}
BENCHMARK(BM_DecodeVersusMemcpy);

}  // namespace
