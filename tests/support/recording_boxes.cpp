#include "support/recording_boxes.h"
