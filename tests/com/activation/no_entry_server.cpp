// A shared library that exports none of a server's entry points.
extern "C" int act_not_a_server() { return 42; }
