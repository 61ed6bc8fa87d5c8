// Numbers of the dialog templates and their controls. Plain #defines, since
// the resource compiler reads this header too.
#pragma once

#define HOST_DIALOG_TEMPLATE 4000
#define CONNECT_DIALOG_TEMPLATE 4001
#define TRANSFER_DIALOG_TEMPLATE 4002

// Template 4000: the "Wait..." button uses the ordinary IDOK (1).
#define HOST_WAIT_BUTTON_ID 1
// Template 4001: "Connecting ...", replaced by the outcome.
#define CONNECT_STATUS_ID 4003
// Template 4002: "Transfering ..." and the percentage below it.
#define TRANSFER_LABEL_ID 4004
#define TRANSFER_PERCENT_ID 4002
