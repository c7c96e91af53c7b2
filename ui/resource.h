// Identifiers of the module's resources, shared by the resource script and the code.
#pragma once

// String table (there is no string 4).
#define IDS_CLASS_NAME 1
#define IDS_CATEGORY 2
#define IDS_LIB_DESCRIPTION 3
#define IDS_FILTER_DESCRIPTION 5

// Dialogs.
#define IDD_ABOUT 101

// Bitmaps.
#define IDB_ABOUT 103

// Controls without an identifier of their own.
#define IDC_STATIC -1
