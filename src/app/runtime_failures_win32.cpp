// How the Windows program ends when the C++ runtime fails: it aborts.
//
// The program catches no exception, so whatever the runtime throws (out of
// memory, a string grown past its largest size) ends in std::terminate and
// then abort. The runtime's own code for that path made up more than a third
// of the stripped program: its default terminate handler names the exception
// on standard error, which a GUI program does not have, and brings a
// demangler and a printf; its throw helpers bring every standard exception
// class with the old string type and std::random_device. The linker keeps
// every function of each runtime object it takes (their unwind tables hold
// on to them), so none of that could be collected. The definitions here
// replace the runtime's; the linker then takes none of its objects for them,
// and a use of a helper that is not defined here fails the link with a
// second definition instead of bringing the bytes back quietly.
#include <cstdlib>
#include <exception>
#include <new>

namespace __gnu_cxx {

void __verbose_terminate_handler() { std::abort(); }

}  // namespace __gnu_cxx

namespace std {

void __throw_bad_alloc() { std::abort(); }
void __throw_bad_array_new_length() { std::abort(); }
void __throw_length_error(const char*) { std::abort(); }
void __throw_logic_error(const char*) { std::abort(); }
void __throw_out_of_range_fmt(const char*, ...) { std::abort(); }

}  // namespace std
