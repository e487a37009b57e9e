#include "coms/coms_settings.h"

ComsSettings& comsSettings() {
  // Never destroyed: coms threads outlive static destructors.
  static ComsSettings* settings = new ComsSettings();
  return *settings;
}
