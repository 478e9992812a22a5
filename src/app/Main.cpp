// The one application object of the program.
#include "app/UpdateUtilityApp.h"

CUpdateUtilityApp theApp;
