// The encoder through zlib's inflate, after every pass of every option set.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <set>

#include <zlib.h>

#include "deflate/deflate.h"
#include "deflate/effort.h"
#include "testsupport.h"

namespace {

std::string bytesof(const bytesink &out, int64_t start, int64_t n) {
  return std::string((const char *)out.bytes() + start, (size_t)n);
}

// Inflates after every pass; each block's next lengths: at most 15 bits, an
// end-of-block code, and (where every position is weighed) one for every byte.
struct everypass : encodewatcher {
  encoder &enc;
  bytesink &out;
  const std::string &data;
  encodeoptions o;
  std::vector<int32_t> ends;
  everypass(encoder &e, bytesink &b, const std::string &d, encodeoptions op) : enc(e), out(b), data(d), o(op) {}
  void blocklayout(const int64_t *e, int32_t n) override { ends.assign(e, e + n); }
  void passends(int64_t length, int64_t, bool) override {
    bool ok;
    ASSERT_TRUE(inflateraw(bytesof(out, 0, length), &ok) == data && ok);
    for (int32_t b = 0, p = 0; b < (int32_t)ends.size(); b++) {
      const int32_t *len = enc.block(b).lengths;
      EXPECT_TRUE(len[endofblock] && *std::max_element(len, len + slotcount) <= 15) << "block " << b;
      for (; p < ends[(size_t)b]; p++) ASSERT_TRUE(o.strategy == 2 || len[(uint8_t)data[(size_t)p]]) << "byte " << p;
      // Without matches no distance code, or with -zl121 one of length 1.
      for (int32_t c = 0; c < 30 && o.strategy == 3; c++) EXPECT_EQ(len[distslot + c], o.onecodeforempty && !c ? 1 : 0);
    }
  }
};

TEST(Encoder, EveryPassOfEveryOptionSetInflates) {
  std::string periodic, cycle16;   // the second: a header with a long run of equal lengths
  for (int k = 0; k < 3000; k++) periodic += "abc"[k % 3];
  for (int k = 0; k < 4096; k++) cycle16 += (char)('a' + k % 16);
  const std::string mixed = textbytes(20000, 1) + randombytes(3000, 2) + std::string(9000, '\0') + textbytes(5000, 3);
  const std::vector<std::pair<std::string, std::vector<encodeoptions>>> cases = {
      {"", {{}, {.strategy = 3}, {.neverstore = true}}},
      {"x", {{}, {.strategy = 2, .neverstore = true}}},
      {periodic, {{}, {.strategy = 1}, {.strategy = 2}, {.randomtables = true, .randomseed = 5}}},
      {mixed,
       {{}, {.strategy = 1, .blockcount = 5}, {.strategy = 2, .splitthreshold = 16}, {.strategy = 3, .blockcount = 9},
        {.randomtables = true, .randomseed = 7}, {.strategy = 3, .blockcount = 3, .onecodeforempty = true},
        {.strategy = 3, .randomtables = true}}},   // Huffman Only starts from the fixed tables all the same
      {randombytes(5000, 4), {{}, {.neverstore = true}, {.strategy = 1, .randomtables = true}}},
      {cycle16, {{.strategy = 3}}},
      {"abcdabc", {{}}},   // a match that ends the data
      // Longer than the step ring without a natural cut: forced cuts.
      {std::string(300000, '\xe5'), {{.splitthreshold = 0}, {.strategy = 1, .randomtables = true, .randomseed = 9}}},
  };
  std::unique_ptr<encoder> enc(new encoder);
  bytesink out;
  std::string lengths;
  uLong crc = 0;   // of every stream, for changes that keep the lengths
  for (auto &[data, sets] : cases) {
    for (const encodeoptions &o : sets) {
      SCOPED_TRACE(testing::Message() << data.size() << " bytes, strategy " << o.strategy << " blocks " << o.blockcount);
      memorysource in((const uint8_t *)data.data(), data.size());
      everypass w(*enc, out, data, o);
      out.clear();
      encoderesult r = enc->compress(in, (int64_t)data.size(), out, o, &w);
      // Stored only when allowed, and only when no pass shrank the data.
      EXPECT_FALSE(o.neverstore && r.result == encoderesult::store);
      EXPECT_TRUE(r.result != encoderesult::store || r.length > (int64_t)data.size());
      lengths += std::to_string(r.length) + (r.result == encoderesult::store ? "s " : " ");
      crc = crc32(crc, out.bytes(), (uInt)r.length);
    }
  }
  // The design's bytes: a change here must be one that is meant.
  EXPECT_EQ(lengths + std::to_string(crc), "12s 12s 12 12s 12 23 23 23 23 7571 7626 10717 18571 7570 18671 18319 5043s 5043 5043s 2093 17s 310 310 3339346826");
}

}  // namespace

namespace {

// 18 letters, the k-th as often as the k-th Fibonacci number, shuffled.
std::string fibonacciletters() {
  std::string s;
  for (int32_t k = 0, a = 1, b = 1; k < 18; k++, b = a + b, a = b - a) s += std::string((size_t)a, (char)('a' + k));
  std::string r = randombytes(s.size() * 4, 51);
  for (size_t i = s.size() - 1; i > 0; i--) {
    size_t j = (((uint32_t)(uint8_t)r[4 * i] << 24) | ((uint32_t)(uint8_t)r[4 * i + 1] << 16) | ((uint32_t)(uint8_t)r[4 * i + 2] << 8) | (uint8_t)r[4 * i + 3]) % (i + 1);
    std::swap(s[i], s[j]);
  }
  return s;
}

// Extra effort (-x) and the quick mode of -z: valid, never larger than the
// normal run, the same bytes from one encoder or several; every block type
// of RFC 1951 where it pays, as zlib's inflate finds the blocks.
TEST(Effort, NeverLargerAndTheSameFromAnyNumberOfThreads) {
  const std::string mixed = textbytes(12000, 11) + randombytes(2000, 12) + std::string(3000, 'z') + textbytes(9000, 13);
  struct testcase {
    std::string data;
    encodeoptions o;
    bool layoutfixed;
  };
  const std::vector<testcase> cases = {
      // Ranges of a few KB: the passes of a phase with encoders to spare
      // code in ranges on them.
      {mixed, {.leastrange = 2048}, false}, {mixed, {.strategy = 1, .leastrange = 2048}, false},
      {mixed, {.strategy = 2, .blockcount = 3}, true},
      {mixed, {.strategy = 3, .onecodeforempty = true}, false}, {mixed, {.splitthreshold = 0}, true},
      {"", {}, false}, {randombytes(900, 14), {}, false},
      // Noise between two texts: a stored block inside the stream.
      {textbytes(8000, 21) + randombytes(4000, 22) + textbytes(8000, 23), {}, false},
      // A short stretch of other bytes between two texts: a fixed block.
      {textbytes(6000, 31) + std::string("0123456789abcdef", 16) + randombytes(48, 32) + textbytes(6000, 33), {.blockcount = 3}, true},
      // Letters as often as the Fibonacci numbers, in random order: codes
      // that would be longer than 15 bits without their limit.
      {fibonacciletters(), {}, false},
      // One byte before a run of another: a block of one symbol.
      {std::string(1, 'a') + std::string(2000, 'b'), {.blockcount = 2}, true}};
  const effortoptions modes[] = {{.rounds = 1, .trials = 3}, {.rounds = 0, .layoutrounds = 0}};
  std::unique_ptr<encoder> a(new encoder), b(new encoder), c(new encoder);
  std::string pins[2];
  bool storedinside = false, fixedbetween = false, onesymbol = false;
  std::set<int> types[2];
  uLong crc = 0;
  for (int m = 0; m < 2; m++) {
    for (const testcase &t : cases) {
      const std::string &data = t.data;
      if (quick() && data.size() > 13000) continue;   // the sanitizers' run keeps to small inputs
      SCOPED_TRACE(testing::Message() << data.size() << " bytes, strategy " << t.o.strategy << ", mode " << m);
      effortoptions e = modes[m];
      e.layoutfixed = t.layoutfixed;
      memorysource in((const uint8_t *)data.data(), data.size());
      bytesink normal, one, three;
      encoderesult n = a->compress(in, (int64_t)data.size(), normal, t.o, nullptr);
      encoderesult r1 = compresshard({a.get()}, (const uint8_t *)data.data(), (int64_t)data.size(), one, t.o, e, nullptr);
      encoderesult r3 = compresshard({a.get(), b.get(), c.get()}, (const uint8_t *)data.data(), (int64_t)data.size(), three, t.o, e, nullptr);
      EXPECT_EQ(r1.result, n.result);
      pins[m] += std::to_string(r1.length);
      if (n.result != encoderesult::compressed) {
        pins[m] += " ";
        continue;
      }
      crc = crc32(crc, one.bytes(), (uInt)r1.length);
      EXPECT_LE(r1.length, n.length);
      EXPECT_EQ(bytesof(one, 0, r1.length), bytesof(three, 0, r3.length));
      if (e.rounds > 0) {
        // A round more never makes the file larger.
        effortoptions more = e;
        more.rounds++;
        bytesink two;
        encoderesult r2 = compresshard({a.get()}, (const uint8_t *)data.data(), (int64_t)data.size(), two, t.o, more, nullptr);
        EXPECT_LE(r2.length, r1.length);
        std::string back;
        EXPECT_TRUE(!inflateblocks(bytesof(two, 0, r2.length), back).empty() && back == data);
      }
      std::string back;
      std::vector<inflatedblock> blocks = inflateblocks(bytesof(one, 0, r1.length), back);
      ASSERT_TRUE(!blocks.empty() && back == data);
      pins[m] += ":";
      for (size_t k = 0; k < blocks.size(); k++) {
        pins[m] += std::to_string(blocks[k].type);
        types[m].insert(blocks[k].type);
        bool inside = k > 0 && k + 1 < blocks.size();
        if (inside && blocks[k].type == 0) storedinside = true;
        if (inside && blocks[k].type == 1 && blocks[k - 1].type == 2 && blocks[k + 1].type == 2) fixedbetween = true;
        if (blocks[k].end - (k ? blocks[k - 1].end : 0) == 1) onesymbol = true;
      }
      pins[m] += " ";
    }
  }
  if (quick()) return;
  EXPECT_EQ(types[0], (std::set<int>{0, 1, 2}));
  EXPECT_EQ(types[1], (std::set<int>{0, 1, 2}));
  EXPECT_TRUE(storedinside && fixedbetween && onesymbol);
  // This version's extra effort and -z: bytes and block types of every
  // stream; a change here must be one that is meant.
  EXPECT_EQ(pins[0] + "| " + pins[1] + std::to_string(crc),
            "5796:222022 5813:222022 7692:222 14238:2022 6392:2 12 953 6936:22202 2368:212 2236:2 19:11 | "
            "5846:2221022 5849:2221022 7692:222 14238:2022 6415:2 12 953 6966:22202 2378:212 2240:2 19:11 2994494507");
}

}  // namespace
