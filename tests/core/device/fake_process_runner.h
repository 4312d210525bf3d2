#pragma once

#include "platform/scripted_process_runner.h"
