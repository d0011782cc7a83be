// Resource identifiers shared by setup.rc and the window code.
#pragma once

#define IDB_BACK_IMAGE 101
#define IDB_OK_GLYPHS 102
#define IDB_CANCEL_GLYPHS 103
#define IDI_SETUP 201
