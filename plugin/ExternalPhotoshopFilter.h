// The filter that runs the Visara program on the host's image: the image
// goes into a temporary exchange file, the program edits it there, and on
// the program's success the pixels come back into the host's output.
#pragma once

#include <string>

#include "PhotoshopFilter.h"

class TExternalPhotoshopFilter : public TPhotoshopFilter {
public:
    TExternalPhotoshopFilter(const std::string& ProgramPath, const std::string& Caption,
                             const std::string& AboutText);

    int16_t Start(VisaraFilterRecord* Record) override;

    // ProgramFolder becomes the part of Path before its last "/" while it is
    // still empty (it stays empty for a Path without one).
    void SetProgramPath(const std::string& Path);

    std::string ProgramFolder;
    std::string ProgramPath;

private:
    // Writes the input into a new exchange file and answers its name; empty
    // (with the file gone) when it cannot be created, sized or mapped.
    std::string WriteTempFile(const TExchangeHeader& Header, const void* Data);
    // Starts the program on Temp and waits for its end while the host pumps
    // its events: 0 when it started, else the error code of the start.
    // Succeeded is true only when the program exited normally with code 0.
    int RunProgram(const std::string& Temp, const VisaraFilterRecord* Record, bool& Succeeded);
    // Copies the image the program left in Temp into the output: VisaraNoErr
    // when copied, VisaraUserCanceledErr otherwise (with a message when the
    // returned image does not fit the host's).
    int16_t CopyBack(const std::string& Temp, VisaraFilterRecord* Record);
};

// The folder for temporary files: $TMPDIR or /tmp.
std::string GetTempFolder();
// Creates a new, empty file named <Folder>/<Prefix>XXXXXX.tmp (mode 0600) and
// answers its name; empty when none could be made.
std::string MakeTempFileName(const std::string& Folder, const std::string& Prefix);
