// The version as resource text, from the definitions the build passes in
// (the CMake project's VERSION). windres drops the quotes of a string
// definition on its way to the preprocessor, hence the stringising.
#ifndef QORL_VERSION_TEXT_H
#define QORL_VERSION_TEXT_H

#define QORL_TEXT(x) #x
#define QORL_VERSION_OF(major, minor, patch) QORL_TEXT(major.minor.patch)
#define QORL_VERSION_TEXT \
    QORL_VERSION_OF(QORL_VERSION_MAJOR, QORL_VERSION_MINOR, QORL_VERSION_PATCH)

#endif
