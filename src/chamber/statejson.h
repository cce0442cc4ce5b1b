#pragma once
// The chamber's state as JSON, the one form every remote client sends it in.

#include "chamber/state.h"
