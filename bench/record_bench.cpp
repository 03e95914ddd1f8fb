// Reply-line decoding against memcpy of the same bytes: RecordText → bytes → FieldRecord for a
// realistic statement line of about 300 characters.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "platform/codepage.h"
#include "record/field_record.h"
#include "sim/record_encoder.h"

namespace {

using kdx::FieldRecord;

struct Line {
  std::u16string text;  // the RecordText as the reply handler holds it
  std::size_t wireBytes;  // its size in the UTF-8 reply body
};

const Line& StatementLine() {
  static const Line line = [] {
    FieldRecord record;
    const int64_t numbers[] = {1, 4, 1250000, -3500, 98765432100, 0, 63, 3583, 802815, -1, 20240611, 153000};
    for (int i = 0; i < 12; ++i) record.SetNumber(i, numbers[i]);
    const char16_t* strings[] = {u"9A95",         u"9A95-0012345-00",      u"王小明",      u"TWD",
                                 u"現金餘額(交割款,T+2)", u"1,250,000",          u"3,201.55",    u"2024/06/11 13:30:00",
                                 u"台積電(2330)", u"2330",                u"普通股現股 集中市場", u"ORV.TWS.2330 台灣積體電路製造"};
    for (int i = 0; i < 12; ++i) record.SetString(i, strings[i]);
    kdx::sim::EncodeOptions options;
    options.recordType = 1;
    Line l;
    l.text = kdx::sim::EncodeRecordText(kdx::sim::EncodeRecord(record, options));
    l.wireBytes = kdx::Utf16ToUtf8(l.text).size();
    return l;
  }();
  return line;
}

// What the reply handler does per line: RecordText into its fixed buffer, then a fresh record.
int DecodeLine(const std::u16string& text, unsigned char* buffer) {
  const int size = kdx::DecodeRecordText(buffer, 8192, text.data(), static_cast<int>(text.size()));
  FieldRecord record;
  const int type = record.Decode(buffer, 0, size);
  benchmark::DoNotOptimize(record.GetString(11));
  return type;
}

void BM_DecodeReplyLine(benchmark::State& state) {
  const Line& line = StatementLine();
  std::vector<unsigned char> buffer(8192);
  for (auto _ : state) benchmark::DoNotOptimize(DecodeLine(line.text, buffer.data()));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * line.wireBytes));
  state.counters["chars"] = static_cast<double>(line.text.size());
}
BENCHMARK(BM_DecodeReplyLine);

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
