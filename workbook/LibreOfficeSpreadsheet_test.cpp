#include "LibreOfficeSpreadsheet.h"

#include <gtest/gtest.h>
