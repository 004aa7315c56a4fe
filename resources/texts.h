// The texts of the wizard pages, the About box and the production-line dialog, as the program
// shows them. Texts with %s or
// %d are formats: the code that uses them fills them in by plain concatenation around the marked
// place (see each comment), never by handing user-controlled text to printf.
// Thread rule: constants only.
#pragma once

// Sheet.
constexpr const char* SheetCaption = "ha ha";  // not shown in wizard mode: the page title is
constexpr const char* FinishButtonText = "Finish";

// Page titles ("of 5" also when the fifth page is absent).
constexpr const char* Page00Title = "Firmware upload wizard (page 1 of 5)";
constexpr const char* Page10Title = "Firmware upload wizard (page 2 of 5)";
constexpr const char* Page30Title = "Firmware upload wizard (page 3 of 5)";
constexpr const char* Page45Title = "Firmware upload wizard (page 4 of 5)";
constexpr const char* Page55Title = "Firmware upload wizard (page 5 of 5)";

// Welcome page: "This program will upgrade the firmware of your\n\n\"<Model_name>\" \n\nto
// version <Firmware_version>."
constexpr const char* WelcomeTextHead = "This program will upgrade the firmware of your\n\n\"";
constexpr const char* WelcomeTextMiddle = "\" \n\nto version ";
constexpr const char* WelcomeTextTail = ".";
constexpr const char* WelcomePrompt =
    "If you really want to upgrade your modem, then click \"Next\" to proceed. Otherwize click "
    "\"Cancel\" to exit.";

// Search page.
constexpr const char* SearchPrompt =
    "The wizard has found modems below. Please select the one you would like to upgrade, then "
    "click \"Next\" to proceed.";
constexpr const char* OthersText = "Others";
constexpr const char* ComLabelText = "COM";
constexpr const char* StatusTemplateText = "Nelta F/W upload wizard v1.0";
constexpr const char* ListItemJoin = " on COM";                 // "<Model_name> on COM<n>"
constexpr const char* StatusTryToOpen = "Try to open ";          // + port name
constexpr const char* StatusFoundHead = "Found a ";              // + Company_short_name
constexpr const char* StatusFoundTail = " modem on ";            // + port name
constexpr const char* StatusFoundKernelTail = " modem in Kernel mode on ";  // + port name
constexpr const char* StatusNotFoundHead = "No ";                // + Company_short_name
constexpr const char* StatusNotFoundTail = " modem found on ";   // + port text
constexpr const char* StatusPleaseSelect = "Please select a modem from the list box";
constexpr const char* StatusNoneFound = "No modem was found on COM1 ~ COM8";
constexpr const char* StatusInputPort = "Input a port number, then press 'Enter' key.";
constexpr const char* StatusYouSelect = "You select modem on ";  // + port name

// Summary page.
constexpr const char* SummaryWarning =
    "You should NOT power off the modem while\r\n"
    "firmware uploading is in progress, otherwize\r\n"
    "you may damage your modem.\r\n";
constexpr const char* SummaryVersionLabel = "\r\nF/W version :  ";  // + Firmware_version
constexpr const char* SummaryPortLabel = "\r\nCOM port    :  ";     // + port name
constexpr const char* SummaryPortTail = "\r\n\r\n";
constexpr const char* SummaryPrompt = "Press \"Next\" to start, or press \"Cancel\" to exit.\r\n";

// Upload progress page.
constexpr const char* InfoGroupText = "Info";
constexpr const char* ProgressGroupText = "Progress";
constexpr const char* ProductLabelText = "Product name            :";
constexpr const char* VersionLabelText = "Firmware Version     :";
constexpr const char* KernelIncludedText = " (Kernel included)";
constexpr const char* PercentZeroText = "0%";
constexpr const char* PercentAllAcknowledgedText = "99%";
constexpr const char* PercentDoneText = "100%";
constexpr const char* UploadFailedText =
    "The wizard failed to upload your modem. \nPlease power reset your modem and try again.";
constexpr const char* UploadSucceededText = "Upload successfully";
constexpr const char* RemoveModemText =
    "Please remove your modem from the USB port,\nand then press 'OK' to continue.";

// Driver-change page.
constexpr const char* DriverStep1Text = "1. UnInstall the current USB modem drivers.";
constexpr const char* DriverStep2Text = "2. Remove the driver files on your hard-disk.";
constexpr const char* DriverStep3Text = "3. Update new driver files.";
constexpr const char* RebootQuestionText = "You have to reboot to complete the whole process:";
constexpr const char* RebootYesText = "Yes,  reboot right now.";  // two blanks after the comma
constexpr const char* RebootNoText = "No, I will reboot later.";

// About box: "<Company_short_name> firmware upload wizard Version 2.5", the notice, Company_name.
constexpr const char* AboutTitle = "About Tarvo";
constexpr const char* AboutVersionTail = " firmware upload wizard Version 2.5";
constexpr const char* AboutNotice = "Keep the modem powered while its firmware is written.";
constexpr const char* OkButtonText = "OK";

// Production-line dialog. The row labels of the template read "COM11:" to "COM18:".
constexpr const char* ProductionTitle = "Firmware upgrade utility (for Production line use only)";
constexpr const char* UpgradeFirmwareText = "Upgrade firmware";
constexpr const char* ExitWhenAppropriateText = "Exit when appropriate";
constexpr const char* ShiftedRowLabelTexts[] = {"COM11:", "COM12:", "COM13:", "COM14:",
                                                "COM15:", "COM16:", "COM17:", "COM18:"};
constexpr const char* ProductionWarningText =
    "You should not power off the modems while\n"
    "firmware uploading is in progress, otherwize\n"
    "you may damage the modems.";
constexpr const char* ProductionWarningCaption = "Warning";
constexpr const char* ShutdownMenuText = "Shutdown";
constexpr const char* ShutdownQuestion = "Really want to shutdown?";
constexpr const char* ShutdownCaption = "Tarvo32";
// When the registration for USB modems' device events fails; the reason goes between the two.
constexpr const char* NotListeningTextStart = "Plugged-in USB modems start nothing for now: ";
constexpr const char* NotListeningTextEnd =
    ".\n\nThe station tries again every 0.8 s and listens as soon as it can.";
// The string resource of the About item in the production dialog's system menu.
constexpr const char* AboutMenuText = "&About Tarvo...";
