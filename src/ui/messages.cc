#include "ui/messages.h"

namespace kyt {

namespace {
// Lines 91 to 111 are read from translation files but unused; line 54 is an
// empty slot.
constexpr std::array<TextView, kMessageBlockLines> kEnglish = {
      u"Please install the common controls update from Microsoft before attempting to install this product.",  // 1
      u"Setup resource not found",  // 2
      u"Setup resource decompression failure",  // 3
      u"Setup database not found",  // 4
      u"Runtime error in install: ",  // 5
      u"bytes",  // 6
      u"KB",  // 7
      u"MB",  // 8
      u"Attempting to get value of undefined variable ",  // 9
      u"Attempting to set value of undefined variable ",  // 10
      u"Copying: ",  // 11
      u"Unable to copy installation data to local folders",  // 12
      u"Downloading Web Media: ",  // 13
      u"Unable to download installation data from the web",  // 14
      u"Extracting Web Media: ",  // 15
      u"Unable to extract installation data downloaded from the web",  // 16
      u"Please locate your original setup sources to continue operation",  // 17
      u"Original setup sources required to complete operation, sources not found",  // 18
      u"General setup failure",  // 19
      u"Runtime error in setup script:",  // 20
      u"% complete",  // 21
      u"bytes received",  // 22
      u"Quorvane Wizard",  // 23
      u"Quorvane is preparing the Quorvane Wizard which will install this application. Please wait.",  // 24
      u"Retry Download?",  // 25
      u"Downloading of installation data from the web has failed. Would you like to try again?",  // 26
      u" Proxy Information (optional) ",  // 27
      u"Proxy &Server:",  // 28
      u"Proxy &Port:",  // 29
      u"If you choose No, setup will exit. However, you will be able to resume your download from where it left off when you re-run setup.",  // 30
      u"&Yes",  // 31
      u"&No",  // 32
      u"Retry Extraction?",  // 33
      u"Extraction of installation data downloaded from the web has failed. What would you like to do?",  // 34
      u"&Download a fresh copy of the installation data.",  // 35
      u"Try to &extract the existing download data again.",  // 36
      u"If you choose Cancel, setup will exit. Your existing download data will be preserved.",  // 37
      u"&OK",  // 38
      u"&Cancel",  // 39
      u"Are you sure you want to cancel?",  // 40
      u"Proxy &User:",  // 41
      u"Proxy Pass&word:",  // 42
      u"Fatal Error",  // 43
      u"Error",  // 44
      u"Warning",  // 45
      u"Message",  // 46
      u"Files in Use",  // 47
      u"Out of Disk Space",  // 48
      u"Downloading of installation data from the web has failed. Please make sure you are connected to the Internet.",  // 49
      u"Would you like to:",  // 50
      u"Try to &resume the broken download?",  // 51
      u"Download a &new copy of the data instead?",  // 52
      u"If you choose Cancel, setup will exit. However, you will be able to resume your download from where it left off when you re-run setup.",  // 53
      u"",  // 54
      u"Locating resource",  // 55
      u"Connecting to",  // 56
      u"Redirecting to",  // 57
      u"Beginning data transfer",  // 58
      u"Transferring data",  // 59
      u"Finishing data transfer",  // 60
      u"Beginning component download",  // 61
      u"Installing components",  // 62
      u"Finishing component download",  // 63
      u"Resuming broken download",  // 64
      u"Requesting data",  // 65
      u"CLASSID available",  // 66
      u"Download data recognized",  // 67
      u"Saving download information",  // 68
      u"Beginning synchronous operation",  // 69
      u"Finishing synchronous operation",  // 70
      u"Beginning data upload",  // 71
      u"Uploading data",  // 72
      u"Finishing data upload",  // 73
      u"Protocol CLASSID",  // 74
      u"Encoding",  // 75
      u"Download data recognized and verified",  // 76
      u"Class install location",  // 77
      u"Decoding",  // 78
      u"Loading data handler",  // 79
      u"Content disposition attach",  // 80
      u"Download data filtered",  // 81
      u"CLSID can instantiate",  // 82
      u"COM services unavailable",  // 83
      u"Direct bind",  // 84
      u"Unrecognized download data",  // 85
      u"Detecting proxy information",  // 86
      u"Accept ranges",  // 87
      u"A previously executed setup still has pending operations on the system. Please restart your computer before attempting to install this product.",  // 88
      u"Select Setup Language",  // 89
      u"Please select the language to use during the installation:",  // 90
      u"",  // 91
      u"",  // 92
      u"",  // 93
      u"",  // 94
      u"",  // 95
      u"",  // 96
      u"",  // 97
      u"",  // 98
      u"",  // 99
      u"",  // 100
      u"",  // 101
      u"",  // 102
      u"",  // 103
      u"",  // 104
      u"",  // 105
      u"",  // 106
      u"",  // 107
      u"",  // 108
      u"",  // 109
      u"",  // 110
      u"",  // 111
      u"Unable to play Flash movie",  // 112
      u"Will be &installed on local hard drive",  // 113
      u"&Entire feature will be installed on local hard drive",  // 114
      u"Entire feature will be &unavailable",  // 115
      u"Setup cancelled",  // 116
      u"Would you like to try again?",  // 117
      u"Unable to create shortcut",  // 118
      u"Old file date: ",  // 119
      u"Old file version: ",  // 120
      u"New file date: ",  // 121
      u"New file version: ",  // 122
      u"Overwrite",  // 123
      u"Would you like to overwrite this file?",  // 124
      u"<unknown date>",  // 125
      u"<no version information>",  // 126
};

struct LanguageLocale {
  TextView name;
  int locale;
};

constexpr LanguageLocale kLanguages[] = {
    {u"Arabic", 1025},     {u"Catalan", 1027},    {u"Chinese (Taiwan)", 1028},
    {u"Chinese (PRC)", 2052}, {u"Czech", 1029},   {u"Danish", 1030},
    {u"German", 1031},     {u"Greek", 1032},      {u"English", 1033},
    {u"Spanish", 3082},    {u"Estonian", 1061},   {u"Vietnamese", 1066},
    {u"Finnish", 1035},    {u"French", 1036},     {u"Hebrew", 1037},
    {u"Hungarian", 1038},  {u"Italian", 1040},    {u"Japanese", 1041},
    {u"Korean", 1042},     {u"Lithuanian", 1063}, {u"Latvian", 1062},
    {u"Dutch", 1043},      {u"Basque", 1069},     {u"Polish", 1045},
    {u"Portuguese (Brazil)", 1046}, {u"Portuguese (Portugal)", 2070}, {u"Romanian", 1048},
    {u"Russian", 1049},    {u"Croatian", 1050},   {u"Slovak", 1051},
    {u"Swedish", 1053},    {u"Thai", 1054},       {u"Turkish", 1055},
    {u"Norwegian", 1044},  {u"Slovenian", 1060},
    // Older spellings, accepted by name only.
    {u"Portugese (Brazil)", 1046}, {u"Portugese (Portugal)", 2070},
};
constexpr size_t kTableNames = std::size(kLanguages) - 2;
}  // namespace

MessageTable::MessageTable() {
  for (size_t i = 0; i < kMessageBlockLines; ++i) lines_[i] = Text(kEnglish[i]);
}

const std::array<TextView, kMessageBlockLines>& MessageTable::english() { return kEnglish; }

void MessageTable::read_block(const std::vector<Text>& lines, size_t& at) {
  for (size_t i = 0; i < kMessageBlockLines && at < lines.size(); ++i, ++at) lines_[i] = lines[at];
}

void MessageTable::apply(const std::vector<Text>& file_lines, TextView user_language) {
  size_t at = 0;
  read_block(file_lines, at);
  while (at < file_lines.size()) {
    const Text& name = file_lines[at++];
    read_block(file_lines, at);
    if (!user_language.empty() && equals_ignore_case(name, user_language)) break;
  }
}

Text window_title(TextView title, bool no_logo) {
  if (no_logo) return Text(title);
  return title.empty() ? Text(kTitleSuffix.substr(3)) : Text(title) + Text(kTitleSuffix);
}

int locale_of_language(TextView name) {
  for (const auto& entry : kLanguages)
    if (equals_ignore_case(entry.name, name)) return entry.locale;
  return 1033;
}

Text language_of_locale(int locale) {
  for (size_t i = 0; i < kTableNames; ++i)
    if (kLanguages[i].locale == locale) return Text(kLanguages[i].name);
  return {};
}

}  // namespace kyt
