// A pass coded in ranges of blocks on borrowed encoders writes the bits one
// encoder alone writes.
#include <gtest/gtest.h>

#include <memory>

#include "deflate/deflate.h"
#include "testsupport.h"

namespace {

// Lends every encoder it holds; counts what it lent. Each has coded a file
// of its own before, into a sink not at its start, as a run's encoders
// have: a range must not inherit that pass's position or recording.
struct pool : encoderlender {
  std::vector<std::unique_ptr<encoder>> idle;
  int32_t lent = 0, most = 0, out = 0;
  explicit pool(int n) {
    const std::string text = textbytes(3000, 9);
    for (int k = 0; k < n; k++) {
      idle.emplace_back(new encoder);
      memorysource in((const uint8_t *)text.data(), text.size());
      bytesink sink;
      sink.seek(100);
      idle.back()->compress(in, (int64_t)text.size(), sink, {.record = true}, nullptr);
    }
  }
  encoder *borrow() override {
    if (idle.empty()) return nullptr;
    encoder *e = idle.back().release();
    idle.pop_back();
    lent++, out++;
    most = std::max(most, out);
    return e;
  }
  void giveback(encoder *e) override { idle.emplace_back(e), out--; }
};

// The same bytes, not in memory: read in pieces, pass after pass.
struct streamsource : memorysource {
  using memorysource::memorysource;
  const uint8_t *whole() const override { return nullptr; }
};

TEST(PassRanges, ParallelRangesWriteTheBitsOfOneEncoder) {
  // Runs longer than the rebuild crossing range starts, text, noise and
  // periodic stretches, in blocks of a few KB so that ranges start
  // everywhere.
  std::string runs;
  for (int k = 0; runs.size() < 700000; k++)
    runs += std::string((size_t)(k % 3 ? 40000 + 977 * k : 150000), (char)('a' + k % 2)) + textbytes(3000, k);
  const size_t cut = quick() ? 150000 : 400000;
  std::string mixed = textbytes(200000, 1) + randombytes(30000, 2) + textbytes(100000, 3);
  for (int k = 0; k < 60000; k++) mixed += "abcab"[k % 5];
  mixed += textbytes(200000, 1);   // the same text again, farther than the window
  const struct {
    std::string data;
    encodeoptions o;
  } cases[] = {
      // First, so that it meets the pool's encoders holding their own pass.
      {runs.substr(0, cut), {.splitthreshold = 16, .maxpasses = 1, .record = true, .leastrange = 4096, .sectionbytes = 50000}},
      {mixed.substr(0, cut), {.blockcount = 37, .maxpasses = 4, .record = true, .sharecosts = true, .leastrange = 4096}},
      {mixed.substr(0, cut), {.strategy = 1, .splitthreshold = 16, .maxpasses = 4, .leastrange = 4096, .sectionbytes = 50000}},
      {runs.substr(0, cut), {.strategy = 1, .blockcount = 60, .maxpasses = 4, .leastrange = 4096}},
      {mixed.substr(0, cut), {.strategy = 3, .blockcount = 9, .maxpasses = 4, .leastrange = 4096, .sectionbytes = 50000}},
      {mixed.substr(0, cut), {.strategy = 2, .blockcount = 9, .maxpasses = 4, .leastrange = 4096}},   // never in ranges
      {textbytes(50000, 5), {.blockcount = 9, .maxpasses = 4, .leastrange = 4096, .sectionbytes = 5000}},
  };
  std::unique_ptr<encoder> enc(new encoder);
  pool lender(7);
  for (const auto &t : cases) {
    // A case with sections of its own reads its input in pieces, a section
    // held at a time.
    const bool stream = t.o.sectionbytes != encodeoptions{}.sectionbytes;
    SCOPED_TRACE(testing::Message() << t.data.size() << " bytes, strategy " << t.o.strategy << (stream ? ", streamed" : ""));
    memorysource inmemory((const uint8_t *)t.data.data(), t.data.size());
    streamsource streaming((const uint8_t *)t.data.data(), t.data.size());
    bytesource &in = stream ? (bytesource &)streaming : inmemory;
    bytesink alone, ranged;
    const encoderesult a = enc->compress(in, (int64_t)t.data.size(), alone, t.o, nullptr);
    const encoder::passrecord recorded = enc->recording();
    const int32_t lentbefore = lender.lent;
    const encoderesult r = enc->compress(in, (int64_t)t.data.size(), ranged, t.o, nullptr, &lender);
    if (t.o.record) {
      // What the extra effort reads of a pass: its steps, and every block's
      // first step, first bit and lengths.
      const encoder::passrecord &joined = enc->recording();
      EXPECT_EQ(joined.firststep, recorded.firststep);
      EXPECT_EQ(joined.firstbit, recorded.firstbit);
      EXPECT_EQ(joined.lengths, recorded.lengths);
      EXPECT_TRUE(joined.steps.size() == recorded.steps.size() &&
                  std::equal(joined.steps.begin(), joined.steps.end(), recorded.steps.begin(),
                             [](parsestep x, parsestep y) { return x.length == y.length && x.dist == y.dist; }));
      EXPECT_EQ((int64_t)recorded.firststep.size(), enc->blockcount() + 1);
    }
    if (t.o.strategy == 2) {
      EXPECT_EQ(lender.lent, lentbefore);
    }
    EXPECT_EQ(lender.out, 0);
    ASSERT_EQ(a.result, encoderesult::compressed);
    EXPECT_EQ(r.passes, a.passes);
    ASSERT_EQ(r.length, a.length);
    EXPECT_TRUE(std::equal(alone.bytes(), alone.bytes() + a.length, ranged.bytes()));
    bool ok;
    EXPECT_TRUE(inflateraw(std::string((const char *)ranged.bytes(), (size_t)r.length), &ok) == t.data && ok);
  }
  EXPECT_EQ(lender.most, 7);
}

}  // namespace
