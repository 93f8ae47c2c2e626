// The host application's numbered string table. The host registers its own texts;
// every number the library loads has a built-in English text until then.
#pragma once

#include "Platform/Types.h"

// The text of string number id, or nullptr when neither the host nor the built-in
// table has it. The pointer stays valid until that number is registered again.
const char* AfxLoadString(UINT id);

// Registers (or, with nullptr, removes) the host's text for a number. A removed
// number falls back to the built-in English text.
void AfxSetString(UINT id, const char* text);

// Drops every host text, leaving the built-in English table.
void AfxResetStringTable();
