// Resource IDs shared by the resource script and the window host. Plain #defines, because the resource
// compiler reads this file too; the host checks them against the control IDs the dialog class uses.
#pragma once

#define IDD_MAIN_DIALOG 102
#define IDR_MAINFRAME 128

#define IDC_FILE_NAME 1000
#define IDC_BROWSE 1001
#define IDC_WRITE_EEPROM 1002
#define IDC_PROGRESS 1003
#define IDC_VENDOR_ID 1004
#define IDC_PRODUCT_ID 1005
#define IDC_FIRMWARE_VERSION 1006
#define IDC_EXPECTED_VERSION 1007
#define IDC_FILE_NAME_LABEL 1008
#define IDC_EEPROM_WP 1009
#define IDC_STATUS_MARKER 1010
#define IDC_ERASE_EEPROM 1011
#define IDC_USE_EVB_IDS 1012
#define IDC_VENDOR_LABEL 1013
#define IDC_PRODUCT_LABEL 1014

// Not in the template: made at run time, and only against the simulated board.
#define IDC_SIMULATED_BOARD 1015
