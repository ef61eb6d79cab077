// The order in which NTFS lists the names of a folder: by their UTF-16
// units after upper-casing, unit by unit, as NTFS's own upcase table does.
// Windows lists folders on NTFS in this order (and Wine lists every folder
// so); the native program's listing sorts by it, so that one tree packs to
// the same package on every file system and on both programs.
#pragma once

#include <string>

namespace platform {

// The upper case of one UTF-16 unit under a fixed simple case mapping of
// the program's own, the same on every machine and in every locale (a
// system's towupper depends on its locale data). It covers the letters that
// file names hold in practice: ASCII, Latin-1, Latin Extended-A, Latin
// Extended Additional, Greek, Cyrillic, Armenian, Roman numerals, circled
// letters and the fullwidth forms. Every other unit, surrogates included,
// stands for itself, as do the few letters whose upper case lies in another
// block or that Windows versions treat differently (such as ı, ſ and µ).
wchar_t NtfsUpcase(wchar_t unit);

// True when `a` comes before `b`: the first unit whose upper cases differ
// decides, by its number; a name that is the start of the other comes
// first. Names equal after upper-casing, which one NTFS folder cannot hold
// together, are ordered by their units as they stand, so that the order is
// total and the same on every machine.
bool NtfsNameLess(const std::wstring& a, const std::wstring& b);

}  // namespace platform
