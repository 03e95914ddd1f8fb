// The product list's block rules, read from bodies directly.
#include <gtest/gtest.h>

#include <ostream>

#include "common/control_util.h"
#include "queries/ObProductTable.h"
#include "sim/record_encoder.h"

namespace kdx::test {
namespace {

// An encoded entry: 2-byte big-endian length, then the record.
std::string Entry(const std::string& key, const std::string& symbol, const char* exchange, const char* code,
                  int type = 0) {
  const std::string bytes = sim::EncodeRecord(MakeRecord({{1, key}, {2, symbol}, {12, exchange}, {13, code}}), {type, {}});
  return std::string{static_cast<char>(bytes.size() >> 8), static_cast<char>(bytes.size() & 0xFF)} + bytes;
}

std::string H(std::string size, char second = 'x') { return std::string("d") + second + "H " + size; }
std::string H(std::size_t size) { return H(std::to_string(size)); }
std::string D(const std::string& bytes, char second = 'x') { return sim::ReplyLine(second, bytes); }
std::string E(char second = 'x') { return std::string("d") + second + "E "; }

const std::string kA = Entry("F|CME|ES|202406|0|0", "ES06", "CME", "ES");
const std::string kB = Entry("F|CBT|ZC|202407|0|0", "ZC07", "CBT", "ZC");
const std::string kC = Entry("F|SGX|CN|202408|0|0", "", "SGX", "CN");  // no display symbol
const std::string kBig = Entry(std::string(3000, 'k'), std::string(3000, 's'), "EX", "C");

const std::string kBadA = kA.substr(0, kA.size() - 1) + static_cast<char>(kA.back() ^ 1);  // its check character

struct BlockCase {
  const char* name;
  std::vector<std::string> lines;
  std::vector<std::string> expected;  // "key|symbol|exchange|code"
  friend void PrintTo(const BlockCase& c, std::ostream* os) { *os << c.name; }
};

class ProductBlocks : public ::testing::TestWithParam<BlockCase> {};

TEST_P(ProductBlocks, YieldTheUsableEntriesInOrder) {
  std::vector<std::string> got;
  for (const auto& e : ParseObProductList(Body(GetParam().lines)))
    got.push_back(Utf8(e.key) + "|" + Utf8(e.displaySymbol) + "|" + Utf8(e.exchange) + "|" + Utf8(e.productCode));
  EXPECT_EQ(got, GetParam().expected);
}

const std::string kAText = "F|CME|ES|202406|0|0|ES06|CME|ES", kBText = "F|CBT|ZC|202407|0|0|ZC07|CBT|ZC",
                  kCText = "F|SGX|CN|202408|0|0||SGX|CN";

INSTANTIATE_TEST_SUITE_P(
    Rules, ProductBlocks,
    ::testing::Values(
        // The second character of a line's prefix means nothing.
        BlockCase{"OneBlockTwoPieces", {H(std::to_string(kA.size() + kB.size()), '?'), D(kA, '7'), D(kB), E(' ')},
                  {kAText, kBText}},
        BlockCase{"PieceSplitsAnEntry", {H(kA.size()), D(kA.substr(0, 5)), D(kA.substr(5)), E()}, {kAText}},
        BlockCase{"HeaderFlushesTheOpenBlock", {H(kA.size()), D(kA), H(kB.size()), D(kB), E()}, {kAText, kBText}},
        BlockCase{"UnendedBlockIsDiscarded", {H(kA.size()), D(kA), H(kB.size()), D(kB)}, {kAText}},
        // A piece that cannot be placed ends its block: later pieces would be read out of step.
        BlockCase{"PieceThatDoesNotFitEndsTheBlock", {H(kA.size() + kB.size()), D(kA), D(kA + kB), D(kB), E()}, {kAText}},
        BlockCase{"PieceOverFourKilobytesAccepted", {H(kBig.size() + kB.size()), D(kBig + kB), E()},
                  {std::string(3000, 'k') + "|" + std::string(3000, 's') + "|EX|C", kBText}},
        BlockCase{"PiecesOutsideBlocksDropped", {D(kA), E(), H(kB.size()), D(kB), E(), D(kA)}, {kBText}},
        BlockCase{"BadCheckSkippedRestUsed", {H(kA.size() * 2 + kB.size()), D(kBadA + kB + kA), E()}, {kBText, kAText}},
        BlockCase{"EmptyCodeOrExchangeOrKeyAddsNothingEmptySymbolDoes",
                  {H(300), D(Entry("K1", "S", "EX", "") + Entry("K2", "S", "", "C") + Entry("", "S", "EX", "C") + kC), E()},
                  {kCText}},
        BlockCase{"HeaderWithoutPositiveSizeOpensNothing",
                  {H("0"), D(kA), E(), H("-5"), D(kA), E(), H("abc"), D(kA), E(), H(""), D(kA), E()}, {}},
        BlockCase{"SizeEndsAtTheFirstSpace", {H(std::to_string(kA.size()) + " trailing 999"), D(kA), E()}, {kAText}},
        BlockCase{"EndOfAnEmptyBlockKeepsItOpen", {H(kA.size()), E(), D(kA), E()}, {kAText}},
        BlockCase{"EntryOverrunningTheBlockStopsIt", {H(kA.size() + 3), D(kA + std::string("\x00\x40z", 3)), E()}, {kAText}},
        BlockCase{"TinyEntriesSkipped", {H(kA.size() + 5), D(std::string("\x00\x00\x00\x01q", 5) + kA), E()}, {kAText}},
        BlockCase{"NonRecordLinesSkipped", {"hello", "dxH", H(kA.size()), "dxD" + D(kA).substr(3), "xxD abc", D(kA), E()},
                  {kAText}},
        BlockCase{"RawStringRecordsRead", {H(100), D(Entry("K", "S", "EX", "C", 200)), E()}, {"K|S|EX|C"}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kdx::test
