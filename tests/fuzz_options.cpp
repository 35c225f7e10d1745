// The address checker's settings for every fuzz target. A quarantine of
// 16 MB instead of 256 still catches a block used after its release within
// the same input and long after, but keeps freed memory warm: with the
// default, every input's blocks came from fresh pages, and page faults and
// the memory they fill cost more time than the code under test.
extern "C" const char* __asan_default_options() { return "quarantine_size_mb=16"; }
