// vrexa-publish: turns a folder of files into a published package version;
// see HelpText() for the command line.
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "tools/publish/PublishOptions.h"
#include "tools/publish/Publisher.h"

int main(int argc, char** argv) {
    using namespace vrexa::publish;
    std::vector<std::string> args(argv + 1, argv + argc);
    CommandLine line;
    try {
        line = ParseCommandLine(args);
    } catch (const UsageError& error) {
        std::cerr << "vrexa-publish: " << error.what() << "\nTry 'vrexa-publish --help'.\n";
        return 2;
    }
    if (line.help || line.manPage || line.completion || line.programVersion) {
        std::cout << (line.help         ? HelpText()
                      : line.manPage    ? ManPageText()
                      : line.completion ? CompletionText()
                                        : ProgramVersionText());
        return 0;
    }
    PublishOptions& options = line.options;
    if (const char* password = std::getenv("VREXA_SIGN_PASSWORD")) {
        options.signPassword = password;
    }
    try {
        PublishResult result = Publish(options);
        if (!options.setCurrent.empty()) {
            std::cout << "version " << options.setCurrent << " of package " << options.packageId
                      << " is now the current one\n";
        } else if (!options.nodesOnly) {
            std::cout << "published package " << options.packageId << " version " << options.versionId << ": "
                      << result.files.size() << " files, " << result.totalBytes << " bytes\n";
        }
        for (const auto& path : result.written) {
            std::cout << "  " << (options.outputDir / path).string() << "\n";
        }
    } catch (const std::exception& error) {
        std::cerr << "vrexa-publish: " << error.what() << "\nNothing was published.\n";
        return 1;
    }
    return 0;
}
