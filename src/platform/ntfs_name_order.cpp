// NTFS's listing order, with a self-contained simple upper-case mapping.
#include "platform/ntfs_name_order.h"

#include <cstdint>

namespace platform {
namespace {

struct Range {
  unsigned first;
  unsigned last;
  int shift;  // added to a unit of the range to give its upper case
};

// Ranges of lower-case letters whose upper cases lie at a fixed distance.
constexpr Range kShifted[] = {
    {0x0061, 0x007A, -32},   // a-z
    {0x00E0, 0x00F6, -32},   // à-ö
    {0x00F8, 0x00FE, -32},   // ø-þ
    {0x03AC, 0x03AC, -38},   // ά
    {0x03AD, 0x03AF, -37},   // έ ή ί
    {0x03B1, 0x03C1, -32},   // α-ρ
    {0x03C2, 0x03C2, -31},   // ς
    {0x03C3, 0x03CB, -32},   // σ-ϋ
    {0x03CC, 0x03CC, -64},   // ό
    {0x03CD, 0x03CE, -63},   // ύ ώ
    {0x0430, 0x044F, -32},   // а-я
    {0x0450, 0x045F, -80},   // ѐ-џ
    {0x0561, 0x0586, -48},   // Armenian
    {0x2170, 0x217F, -16},   // small Roman numerals
    {0x24D0, 0x24E9, -26},   // circled small letters
    {0xFF41, 0xFF5A, -32},   // fullwidth a-z
};

struct Pairs {
  unsigned first;  // the first upper-case letter of the run
  unsigned last;   // the last lower-case letter of the run
};

// Runs where each upper-case letter is followed by its lower case.
constexpr Pairs kPairs[] = {
    {0x0100, 0x012F}, {0x0132, 0x0137}, {0x0139, 0x0148}, {0x014A, 0x0177}, {0x0179, 0x017E},
    {0x03E2, 0x03EF}, {0x0460, 0x0481}, {0x048A, 0x04BF}, {0x04C1, 0x04CE}, {0x04D0, 0x052F},
    {0x1E00, 0x1E95}, {0x1EA0, 0x1EFF},
};

}  // namespace

wchar_t NtfsUpcase(wchar_t unit) {
  // A UTF-16 unit, whatever the width of wchar_t.
  const unsigned value = static_cast<std::uint16_t>(unit);
  for (const Range& range : kShifted) {
    if (value >= range.first && value <= range.last) return static_cast<wchar_t>(static_cast<int>(value) + range.shift);
  }
  for (const Pairs& run : kPairs) {
    // The lower case is the second of each pair: odd or even as the run's
    // first letter is even or odd.
    if (value >= run.first && value <= run.last && (value - run.first) % 2 == 1) return static_cast<wchar_t>(value - 1);
  }
  if (value == 0x00FF) return static_cast<wchar_t>(0x0178);  // ÿ
  if (value == 0x04CF) return static_cast<wchar_t>(0x04C0);  // ӏ
  return unit;
}

bool NtfsNameLess(const std::wstring& a, const std::wstring& b) {
  const std::size_t common = a.size() < b.size() ? a.size() : b.size();
  for (std::size_t i = 0; i < common; ++i) {
    const unsigned left = static_cast<std::uint16_t>(NtfsUpcase(a[i]));
    const unsigned right = static_cast<std::uint16_t>(NtfsUpcase(b[i]));
    if (left != right) return left < right;
  }
  if (a.size() != b.size()) return a.size() < b.size();
  return a < b;
}

}  // namespace platform
