// Resource IDs shared by the code, the resource scripts and the tests.
#pragma once

// String table
#define IDS_SIMS_KEY                1
#define IDS_CLEANING_SIMS           5
#define IDS_PRODUCT_KEY             6
#define IDS_PRODUCT_VERSION_VALUE   7
#define IDS_CORVEL_INSTALL_KEY      8
#define IDS_PRODUCT_FOLDER_KEY      9
#define IDS_SIMS_FOLDER             10
#define IDS_UNINSTALL_KEY           11
#define IDS_UNABLE_TO_EXECUTE       12
#define IDS_FAILED_TO_COMPLETE      13
#define IDS_QUILLET_REMOVE_FAILED   14
#define IDS_MARLOWE_REMOVE_FAILED   15
#define IDS_QUILLET_NAME            16
#define IDS_MARLOWE_NAME            17
#define IDS_CHECKING_ADDONS         19
#define IDS_UNINSTALLING_QUILLET    20
#define IDS_UNINSTALLING_MARLOWE    21
#define IDS_DSIMS_KEY               22

// Status window
#define IDD_STATUS                  133
#define IDC_STATUS_TEXT             1005

// Licence agreement dialog
#define IDD_LICENSE                 1001
#define IDC_ACCEPT                  1002
#define IDC_DECLINE                 1003
#define IDC_AGREEMENT_TEXT          1004
#define IDC_BACK                    1006

// Version record and manifest
#define IDR_VERSION                 1
#define IDR_LIBRARY_MANIFEST        2
