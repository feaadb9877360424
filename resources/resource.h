/* Ids of the configuration dialog template and its controls. */
#ifndef AVI_OUTPUT_RESOURCE_H
#define AVI_OUTPUT_RESOURCE_H

#define IDD_CONFIG 109
#define IDC_RAWMODE 1000
#define IDC_FILENAME 1002
#define IDC_README 1003
#define IDC_SAVE 1005
#define IDC_STATUS 1007
#define IDC_FRAMERATE 1009

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif

#endif
