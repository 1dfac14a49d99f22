// The length and distance code tables against the tables of RFC 1951
// (section 3.2.5), copied here from the RFC.
#include <gtest/gtest.h>

#include <vector>

#include "deflate/deflate.h"

namespace {

struct rfccode {
  int32_t code, extra, lo, hi;   // the values lo..hi are coded as code + extra bits
};

const rfccode rfclengths[29] = {
    {257, 0, 3, 3},     {258, 0, 4, 4},     {259, 0, 5, 5},     {260, 0, 6, 6},
    {261, 0, 7, 7},     {262, 0, 8, 8},     {263, 0, 9, 9},     {264, 0, 10, 10},
    {265, 1, 11, 12},   {266, 1, 13, 14},   {267, 1, 15, 16},   {268, 1, 17, 18},
    {269, 2, 19, 22},   {270, 2, 23, 26},   {271, 2, 27, 30},   {272, 2, 31, 34},
    {273, 3, 35, 42},   {274, 3, 43, 50},   {275, 3, 51, 58},   {276, 3, 59, 66},
    {277, 4, 67, 82},   {278, 4, 83, 98},   {279, 4, 99, 114},  {280, 4, 115, 130},
    {281, 5, 131, 162}, {282, 5, 163, 194}, {283, 5, 195, 226}, {284, 5, 227, 257},
    {285, 0, 258, 258}};

const rfccode rfcdists[30] = {
    {0, 0, 1, 1},           {1, 0, 2, 2},           {2, 0, 3, 3},
    {3, 0, 4, 4},           {4, 1, 5, 6},           {5, 1, 7, 8},
    {6, 2, 9, 12},          {7, 2, 13, 16},         {8, 3, 17, 24},
    {9, 3, 25, 32},         {10, 4, 33, 48},        {11, 4, 49, 64},
    {12, 5, 65, 96},        {13, 5, 97, 128},       {14, 6, 129, 192},
    {15, 6, 193, 256},      {16, 7, 257, 384},      {17, 7, 385, 512},
    {18, 8, 513, 768},      {19, 8, 769, 1024},     {20, 9, 1025, 1536},
    {21, 9, 1537, 2048},    {22, 10, 2049, 3072},   {23, 10, 3073, 4096},
    {24, 11, 4097, 6144},   {25, 11, 6145, 8192},   {26, 12, 8193, 12288},
    {27, 12, 12289, 16384}, {28, 13, 16385, 24576}, {29, 13, 24577, 32768}};

class CodeTables : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { initcodetables(); }
};

// Every row holds the RFC's extra bits and base, and every length and
// distance maps to the row of its RFC code (258 to symbol 285, not 284 + 31).
TEST_F(CodeTables, EveryValueMapsToItsRfcRow) {
  for (const rfccode &c : rfclengths) {
    EXPECT_EQ(hxbit[c.code - 227][0], c.extra) << "length symbol " << c.code;
    EXPECT_EQ(hxbit[c.code - 227][1], c.lo) << "length symbol " << c.code;
    for (int32_t l = c.lo; l <= c.hi; l++) ASSERT_EQ(huflind[l - 3] + 227, c.code) << "length " << l;
  }
  for (const rfccode &c : rfcdists) {
    EXPECT_EQ(hxbit[c.code][0], c.extra) << "distance code " << c.code;
    EXPECT_EQ(hxbit[c.code][1], c.lo) << "distance code " << c.code;
    for (int32_t d = c.lo; d <= c.hi; d++) ASSERT_EQ(hufdind[d - 1], c.code) << "distance " << d;
  }
}

TEST_F(CodeTables, RebuildingLeavesTheTablesAsTheyWere) {
  EXPECT_EQ(wlz77init1stime, 1);
  std::vector<int32_t> xbit(&hxbit[0][0], &hxbit[0][0] + 59 * 2);
  std::vector<uint8_t> lind(huflind, huflind + 256), dind(hufdind, hufdind + 32768);
  initcodetables();
  EXPECT_EQ(xbit, std::vector<int32_t>(&hxbit[0][0], &hxbit[0][0] + 59 * 2));
  EXPECT_EQ(lind, std::vector<uint8_t>(huflind, huflind + 256));
  EXPECT_EQ(dind, std::vector<uint8_t>(hufdind, hufdind + 32768));
  EXPECT_EQ(wlz77init1stime, 1);
}

}  // namespace
