// Only here to carry the tests' precompiled header (tests/CMakeLists.txt).
