// Processes over posix_spawn with pipes.
//
// The child gets default signal dispositions, an empty signal mask and only
// descriptors 0-2. Input is written and both outputs are read in one poll
// loop, so a child that fills one pipe while we feed or drain another cannot
// deadlock us. SIGPIPE is blocked while we write to the child: a child that
// stops reading ends its input, it does not kill zan.
#include "platform/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <thread>

#include "datatypes/file.h"
#include "evaluator/natives_system.h"
#include "platform/gtk_start.h"
#include "platform/io.h"
#include "platform/text.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/output.h"

extern char** environ;

namespace zan::platform::process {

namespace {

// One of the child's standard streams: the descriptor the child gets, our
// end of its pipe, and the bytes that go in or came out.
struct Stream {
    io::Fd child;
    io::Fd ours;
    std::string data;
    size_t done = 0;
};

// Input from a value: a file is opened, text and bytes go through a pipe.
bool open_input(const Cell& v, Stream& s) {
    if (is(v, Type::file)) {
        s.child.reset(::open(file::to_os_path(v).c_str(), O_RDONLY | O_CLOEXEC));
        return bool(s.child);
    }
    s.data = text::value_bytes(v);
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return false;
    s.child.reset(fds[0]);
    s.ours.reset(fds[1]);
    return true;
}

// Output to a value: a file is appended to (made when missing), a string or
// binary collects through a pipe, no value means /dev/null.
bool open_output(const Cell* v, Stream& s) {
    if (!v) {
        s.child.reset(::open("/dev/null", O_WRONLY | O_CLOEXEC));
        return bool(s.child);
    }
    if (is(*v, Type::file)) {
        s.child.reset(
            ::open(file::to_os_path(*v).c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666));
        return bool(s.child);
    }
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return false;
    s.ours.reset(fds[0]);
    s.child.reset(fds[1]);
    return true;
}

int spawn(pid_t& pid, const std::vector<std::string>& words, Stream* streams) {
    std::vector<char*> argv;
    for (const std::string& w : words) argv.push_back(const_cast<char*>(w.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    for (int i = 0; i < 3; ++i)
        if (streams[i].child) posix_spawn_file_actions_adddup2(&fa, streams[i].child.get(), i);
    posix_spawn_file_actions_addclosefrom_np(&fa, 3);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t all, none;
    sigemptyset(&all);
    for (int sig = 1; sig < NSIG; ++sig)
        if (sig != SIGKILL && sig != SIGSTOP) sigaddset(&all, sig);
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attr, &all);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    int rc = posix_spawnp(&pid, argv[0], &fa, &attr, argv.data(), environ);
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&fa);
    return rc;
}

std::vector<std::string> shell_words(const std::string& command) {
    return {"/bin/sh", "-c", command};
}

// A path for the shell, in single quotes.
std::string shell_quoted(const std::string& path) {
    std::string q = "'";
    for (char c : path) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// Feeds the input and drains both outputs until every pipe is closed.
void exchange(Stream* streams) {
    Stream& in = streams[0];
    sigset_t pipe_set, old_mask, pending;
    sigemptyset(&pipe_set);
    sigaddset(&pipe_set, SIGPIPE);
    bool feeding = bool(in.ours);
    bool was_pending = false;
    if (feeding) {
        pthread_sigmask(SIG_BLOCK, &pipe_set, &old_mask);
        sigpending(&pending);
        was_pending = sigismember(&pending, SIGPIPE);
        ::fcntl(in.ours.get(), F_SETFL, ::fcntl(in.ours.get(), F_GETFL) | O_NONBLOCK);
        if (in.data.empty()) in.ours.reset();
    }
    char chunk[65536];
    for (;;) {
        pollfd fds[3];
        Stream* which[3];
        nfds_t n = 0;
        if (in.ours) fds[n] = {in.ours.get(), POLLOUT, 0}, which[n++] = &in;
        for (int i = 1; i < 3; ++i)
            if (streams[i].ours) fds[n] = {streams[i].ours.get(), POLLIN, 0}, which[n++] = &streams[i];
        if (n == 0) break;
        // While GTK runs, other programs may ask us for the clipboard.
        gtk::pump();
        if (::poll(fds, n, gtk::started() ? 10 : -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        for (nfds_t k = 0; k < n; ++k) {
            if (!fds[k].revents) continue;
            Stream& s = *which[k];
            if (&s == &in) {
                ssize_t w = ::write(s.ours.get(), s.data.data() + s.done,
                                    std::min<size_t>(s.data.size() - s.done, sizeof chunk));
                if (w < 0 && (errno == EINTR || errno == EAGAIN)) continue;
                if (w < 0) {
                    s.ours.reset();  // EPIPE: the child stopped reading
                    continue;
                }
                s.done += size_t(w);
                if (s.done == s.data.size()) s.ours.reset();
            } else {
                ssize_t r = ::read(s.ours.get(), chunk, sizeof chunk);
                if (r < 0 && (errno == EINTR || errno == EAGAIN)) continue;
                if (r <= 0) {
                    s.ours.reset();
                    continue;
                }
                s.data.append(chunk, size_t(r));
            }
        }
    }
    for (Stream* s = streams; s < streams + 3; ++s) s->ours.reset();
    if (feeding) {
        sigpending(&pending);
        if (!was_pending && sigismember(&pending, SIGPIPE)) {
            timespec zero{0, 0};
            sigtimedwait(&pipe_set, nullptr, &zero);
        }
        pthread_sigmask(SIG_SETMASK, &old_mask, nullptr);
    }
}

int32_t wait_for(pid_t pid, bool pumping) {
    int status = 0;
    for (;;) {
        pid_t r = ::waitpid(pid, &status, pumping ? WNOHANG : 0);
        if (r == pid) break;
        if (r < 0 && errno != EINTR) return -1;
        if (r == 0) {
            gtk::pump();
            ::usleep(2000);
        }
    }
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

void collect(const Cell* target, const Stream& s) {
    if (!target || is(*target, Type::file) || s.data.empty()) return;
    Cell t = *target;
    collector::Root keep(t);
    if (is(t, Type::binary))
        text::append_bytes(t, s.data);
    else
        text::append_decoded(t, s.data, true);
}

}  // namespace

bool needs_shell(std::string_view command) {
    return command.find_first_of("|&;<>(){}[]$\\\"'*?~#`\n\r") != std::string_view::npos;
}

std::vector<std::string> split_words(std::string_view command) {
    std::vector<std::string> words;
    size_t i = 0;
    while (i < command.size()) {
        size_t start = command.find_first_not_of(" \t", i);
        if (start == std::string_view::npos) break;
        size_t end = command.find_first_of(" \t", start);
        if (end == std::string_view::npos) end = command.size();
        words.emplace_back(command.substr(start, end - start));
        i = end;
    }
    return words;
}

int32_t run(const Cell& command, bool wait, bool, bool console, bool shell, const Cell* in,
            const Cell* out, const Cell* err) {
    if (console) errors::fire(errors::id::not_done);
    bool is_file = is(command, Type::file);
    std::string text = is_file ? file::to_os_path(command) : text::encode(command);
    std::vector<std::string> words;
    if (is_file)
        words = {text};
    else if (!shell && !needs_shell(text))
        words = split_words(text);
    if (words.empty()) words = shell_words(text);

    Stream streams[3];
    if (in && !open_input(*in, streams[0])) return -1;
    if (!open_output(out, streams[1]) || !open_output(err, streams[2])) return -1;
    wait = wait || in || out || err;

    output::flush();
    pid_t pid;
    int rc = spawn(pid, words, streams);
    if (rc == ENOENT && words[0] != "/bin/sh") rc = spawn(pid, shell_words(is_file ? shell_quoted(text) : text), streams);
    if (rc != 0) return -1;
    for (Stream& s : streams) s.child.reset();

    if (!wait) {
        // Nobody waits for it: reap it aside so it leaves no zombie.
        std::thread([pid] { wait_for(pid, false); }).detach();
        return int32_t(pid);
    }
    exchange(streams);
    int32_t status = wait_for(pid, gtk::started());
    collect(out, streams[1]);
    collect(err, streams[2]);
    return status;
}

void install() {
    // Other owners may have set other services: keep them.
    natives::SystemServices s = natives::system_services();
    s.run = &run;
    natives::set_system_services(s);
}

}  // namespace zan::platform::process
