/* Numbers of the settings dialog's template and of the controls the code
   addresses. Shared by the resource script and the dialog procedure, so it
   holds plain defines only (the resource compiler reads it too). */
#pragma once

#define IDD_SETTINGS 101

#define IDC_LEVEL 1002
#define IDC_PREVIEW 1005
#define IDC_SHOWNOISE 1006
#define IDC_DISABLE 1007
#define IDC_DYNAMIC 1008
