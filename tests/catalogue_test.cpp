#include <gtest/gtest.h>
#include "writers/output_catalogue.h"
TEST(Catalogue, Placeholder) {}
