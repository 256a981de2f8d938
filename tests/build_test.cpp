// End-to-end tests of the binary; filled in with the command they cover.

#include <gtest/gtest.h>
