// A dependency that a test takes away from the server that needs it.
extern "C" int act_dep_value() { return 7; }
