/* The floor of a conversion: reads INPUT whole, then writes the bytes of
 * EXPECTED (what the conversion writes) into OUTPUT through a temporary file in
 * the same folder and a rename, 32 kB at a time, as qelda-convert does. No
 * parsing, no formatting: what is left is the process and the file system. */
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

static char* slurp(const char* path, size_t* size) {
    int fd = open(path, O_RDONLY);
    struct stat st;
    if (fd < 0 || fstat(fd, &st) != 0) return NULL;
    char* buf = malloc((size_t)st.st_size + 1);
    size_t done = 0;
    ssize_t n;
    while (buf && (n = read(fd, buf + done, (size_t)st.st_size - done)) > 0) done += (size_t)n;
    close(fd);
    *size = done;
    return buf;
}

int main(int argc, char** argv) {
    if (argc != 4) return fprintf(stderr, "usage: floor INPUT EXPECTED OUTPUT\n"), 2;
    size_t in_size = 0, out_size = 0;
    char* in = slurp(argv[1], &in_size);
    char* out = slurp(argv[2], &out_size);
    if (!in || !out) return 1;
    char temp[4096];
    snprintf(temp, sizeof temp, "%s.floor-%d.tmp", argv[3], (int)getpid());
    int fd = open(temp, O_WRONLY | O_CREAT | O_EXCL, 0666);
    if (fd < 0) return 1;
    for (size_t at = 0; at < out_size; at += 32768) {
        size_t len = out_size - at < 32768 ? out_size - at : 32768;
        if (write(fd, out + at, len) != (ssize_t)len) return 1;
    }
    if (close(fd) != 0 || rename(temp, argv[3]) != 0) return 1;
    return 0;
}
