// The corpus rows of EXPECTED.md (computed independently), every stream inflated.
#include <gtest/gtest.h>

#include <memory>

#include "deflate/deflate.h"
#include "testsupport.h"

namespace {

struct section {
  const char *title;
  encodeoptions options;
};
const section sections[] = {{"-s0", {}}, {"-s1", {.strategy = 1}}, {"-s2", {.strategy = 2}}, {"-s3", {.strategy = 3}},
                             {"-s0 -b0", {.splitthreshold = 0}}, {"-s0 -n7", {.blockcount = 7}},
                             {"-s3 -n1024", {.strategy = 3, .blockcount = 1024}}};

struct layoutseen : encodewatcher {
  std::vector<int> ends;
  void blocklayout(const int64_t *e, int32_t count) override { ends.assign(e, e + count); }
};

class Corpus : public ::testing::TestWithParam<size_t> {};

TEST_P(Corpus, EveryRowAsExpected) {
  const section &s = sections[GetParam()];
  std::unique_ptr<encoder> enc(new encoder);
  bytesink out;
  for (const expectedrow &row : expectedrows(s.title)) {
    SCOPED_TRACE(row.file);
    std::string data = corpusfile(row.file);
    if (quick() && data.size() > 160000) continue;
    memorysource in((const uint8_t *)data.data(), data.size());
    layoutseen seen;
    out.clear();
    encoderesult r = enc->compress(in, (int64_t)data.size(), out, s.options, &seen);
    EXPECT_EQ(r.result == encoderesult::store ? 0 : 8, row.method);
    EXPECT_EQ(r.result == encoderesult::store ? (int)data.size() : r.length, row.bytes);
    EXPECT_EQ(r.passes, row.passes);
    ASSERT_EQ((int)seen.ends.size(), row.blocks);
    // The last number of a list cut off with "..." may be cut off itself.
    for (size_t k = 0; k < row.ends.size(); k++)
      EXPECT_EQ(std::to_string(seen.ends[k]).rfind(std::to_string(row.ends[k]), 0) == 0 &&
                    (seen.ends[k] == row.ends[k] || (row.cut && k + 1 == row.ends.size())), true) << "block " << k;
    bool ok;
    EXPECT_TRUE(r.result == encoderesult::store || (inflateraw(std::string((const char *)out.bytes(), (size_t)r.length), &ok) == data && ok));
  }
}

INSTANTIATE_TEST_SUITE_P(Sections, Corpus, ::testing::Range<size_t>(0, std::size(sections)));

}  // namespace
