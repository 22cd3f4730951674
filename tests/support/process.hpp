#pragma once

#include "testing/process/process.hpp"
