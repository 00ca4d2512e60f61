#include <QCoreApplication>

#include <iostream>
#include <string>
#include <vector>

#include "Apps/corvexis/CommandLine.h"
#include "Apps/corvexis/HostApplication.h"
#include "Host/Core/Log.h"
#include "Host/Core/ThreadName.h"

int main(int argc, char** argv)
{
    std::vector<std::string> arguments(argv + 1, argv + argc);
    std::string error;
    auto line = Corvexis::CommandLine::parse(arguments, &error);
    if (!line) {
        std::cerr << "corvexis: " << error << "\n" << Corvexis::CommandLine::usage();
        return 2;
    }
    if (line->command == "help") {
        std::cout << Corvexis::CommandLine::usage();
        return 0;
    }
    if (line->logLevel)
        Corvexis::Log::setLevel(static_cast<Corvexis::Log::Level>(*line->logLevel));
    Corvexis::Threading::setCurrentThreadName("main");
    QCoreApplication application(argc, argv);
    int code = 0;
    {
        Corvexis::HostApplication host;
        code = host.exec(*line);
    }
    std::cout.flush();
    return code;
}
