/* Runs a program once and prints "STATUS WALL_NS MAXRSS_KIB" on stdout.
 *
 * Usage: zuv_measure TIMEOUT_SECONDS PROGRAM [ARG...]
 *
 * The peak RSS the kernel reports for a child includes the memory of the
 * process that forked it, because the forking process's high-water mark is
 * carried over at exec. Measured from a Python runner that floor is well over
 * 10 MiB, more than a small interpreter uses; this helper is written in C
 * and kept tiny so that the floor stays around 1 MiB.
 *
 * The child gets /dev/null as stdin and stdout and inherits stderr. STATUS is
 * the exit code, or 128+N when killed by signal N (SIGKILL after a timeout).
 */
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

static volatile pid_t child = 0;

static void on_alarm(int sig) {
    (void)sig;
    if (child > 0)
        kill(-child, SIGKILL);
}

int main(int argc, char** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: %s TIMEOUT_SECONDS PROGRAM [ARG...]\n", argv[0]);
        return 2;
    }
    unsigned timeout = (unsigned)strtoul(argv[1], NULL, 10);

    struct timespec t0, t1;
    clock_gettime(CLOCK_MONOTONIC, &t0);
    pid_t pid = fork();
    if (pid < 0) {
        perror("fork");
        return 2;
    }
    if (pid == 0) {
        setpgid(0, 0); /* so a timeout also takes down grandchildren */
        int null = open("/dev/null", O_RDWR);
        if (null >= 0) {
            dup2(null, 0);
            dup2(null, 1);
            if (null > 2)
                close(null);
        }
        execvp(argv[2], argv + 2);
        fprintf(stderr, "cannot run %s: %s\n", argv[2], strerror(errno));
        _exit(127);
    }
    child = pid;
    setpgid(pid, pid);
    signal(SIGALRM, on_alarm);
    if (timeout > 0)
        alarm(timeout);

    int status = 0;
    struct rusage usage;
    while (wait4(pid, &status, 0, &usage) < 0) {
        if (errno != EINTR) {
            perror("wait4");
            return 2;
        }
    }
    clock_gettime(CLOCK_MONOTONIC, &t1);
    alarm(0);

    long long wall = (long long)(t1.tv_sec - t0.tv_sec) * 1000000000LL + (t1.tv_nsec - t0.tv_nsec);
    int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    printf("%d %lld %ld\n", code, wall, usage.ru_maxrss);
    return 0;
}
