// The real gbplat program for tests: started on a free loopback port with a camera file of the
// test's own, its ready line read, stopped with SIGTERM (or killed when a test fails).
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

const char* kUser = "34020000001320000001";
const char* kCamera = "00309900101001000001";

// A camera file of the test's own, so the program's runs do not depend on the demo data.
std::string cameraFile() {
    std::string path = ::testing::TempDir() + "gbplat_cameras_" + std::to_string(getpid()) + ".csv";
    std::ofstream(path) << "code,name,online,train,car,type\n"
                        << kCamera << ",1号车1车厢车厢前部摄像机1,1,1,1,1\n"
                        << "00309900101002000002,1号车1车厢车厢后部摄像机2,0,1,1,2\n";
    return path;
}

// A UDP socket on a free loopback port, which is written to `port`.
int loopbackSocket(int& port) {
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    socklen_t len = sizeof sa;
    getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len);
    port = ntohs(sa.sin_port);
    return fd;
}

int freeUdpPort() {
    int port = 0;
    close(loopbackSocket(port));
    return port;
}

class GbplatProcess {
public:
    ~GbplatProcess() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0)
            close(out_);
    }

    // Starts gbplat and returns its first stdout line (empty when it never came).
    std::string start(std::vector<std::string> args) {
        port = freeUdpPort();
        logPath = ::testing::TempDir() + "gbplat_" + std::to_string(port) + ".log";
        std::remove(logPath.c_str());
        args.insert(args.begin(), {GBPLAT_BIN, "--port", std::to_string(port), "--log", logPath,
                                   "--quiet", "--cameras", cameraFile()});
        int pipeFd[2];
        if (pipe(pipeFd) != 0)
            return std::string();
        pid_ = fork();
        if (pid_ == 0) {
            dup2(pipeFd[1], STDOUT_FILENO);
            close(pipeFd[0]);
            std::vector<char*> argv;
            for (auto& a : args)
                argv.push_back(a.data());
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(pipeFd[1]);
        out_ = pipeFd[0];
        std::string line;
        pollfd p{out_, POLLIN, 0};
        char c;
        while (poll(&p, 1, 10'000) > 0 && read(out_, &c, 1) == 1 && c != '\n')
            line += c;
        return line;
    }
    void signal(int sig) { kill(pid_, sig); }
    int stop() {
        kill(pid_, SIGTERM);
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::string log() const {
        std::ifstream f(logPath);
        std::stringstream s;
        s << f.rdbuf();
        return s.str();
    }

    int port = 0;
    std::string logPath;

private:
    pid_t pid_ = -1;
    int out_ = -1;
};

}  // namespace
