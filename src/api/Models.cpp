#include "AuthResponse.h"
#include "CommonResponse.h"
#include "ConfirmModel.h"
