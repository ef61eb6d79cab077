// The Windows program's own copy of std::wstring's members.
//
// The C++ runtime holds every member of std::wstring in one object, and the
// linker must keep all of them once the program uses any: the object's
// unwind tables refer to each. Instantiated here instead, compiled without
// exceptions or unwind tables (see CMakeLists.txt), each member is a section
// that the linker leaves out when nothing calls it; the runtime's copy is
// then not linked at all. Without exceptions a failure inside a member ends
// the program, as it does anyway: the program catches nothing.
#include <string>

template class std::basic_string<wchar_t>;
