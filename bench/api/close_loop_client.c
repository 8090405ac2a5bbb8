/* A native load client for the API comparison: one connection at a time, like `wrk -t1 -c1` but
 * for a server that closes every connection. Each request: connect, send the request, read until
 * the server closes. The latency is that whole exchange. Every reply must equal the first one,
 * byte for byte, or the run counts it as an error.
 *   close_loop_client <port> <path> <seconds>
 * Prints one line: requests, errors, requests/s, p50, p90 and p99 ms, reply bytes. */
#define _POSIX_C_SOURCE 200809L
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#define MAX_REPLY (4 * 1024 * 1024)
#define MAX_SAMPLES 2000000

static double now_s(void) {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

static int compare_double(const void* a, const void* b) {
    const double x = *(const double*)a, y = *(const double*)b;
    return x < y ? -1 : x > y;
}

/* The reply's length, or -1 when the exchange failed. */
static long exchange(int port, const char* request, size_t request_len, char* reply) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) {
        return -1;
    }
    struct sockaddr_in address;
    memset(&address, 0, sizeof(address));
    address.sin_family = AF_INET;
    address.sin_port = htons((unsigned short)port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
    long got = -1;
    if (connect(fd, (struct sockaddr*)&address, sizeof(address)) == 0 &&
        send(fd, request, request_len, MSG_NOSIGNAL) == (ssize_t)request_len) {
        got = 0;
        for (;;) {
            const ssize_t n = recv(fd, reply + got, MAX_REPLY - got, 0);
            if (n < 0) {
                got = -1;
                break;
            }
            if (n == 0 || got + n >= MAX_REPLY) {
                got += n;
                break;
            }
            got += n;
        }
    }
    close(fd);
    return got;
}

int main(int argc, char** argv) {
    if (argc != 4) {
        fprintf(stderr, "usage: close_loop_client <port> <path> <seconds>\n");
        return 2;
    }
    const int port = atoi(argv[1]);
    const double seconds = atof(argv[3]);
    char request[4096];
    const int request_len =
        snprintf(request, sizeof(request), "GET %s HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n", argv[2]);
    char* first = malloc(MAX_REPLY);
    char* reply = malloc(MAX_REPLY);
    double* samples = malloc(sizeof(double) * MAX_SAMPLES);
    if (!first || !reply || !samples) {
        return 1;
    }
    long first_len = -1;
    long count = 0, errors = 0;
    const double start = now_s();
    double end = start;
    while (end - start < seconds && count < MAX_SAMPLES) {
        const double t0 = now_s();
        const long len = exchange(port, request, (size_t)request_len, reply);
        end = now_s();
        if (len <= 0) {
            ++errors;
            continue;
        }
        if (first_len < 0) {
            memcpy(first, reply, (size_t)len);
            first_len = len;
        } else if (len != first_len || memcmp(first, reply, (size_t)len) != 0) {
            ++errors;
            continue;
        }
        samples[count++] = (end - t0) * 1000.0;
    }
    qsort(samples, (size_t)count, sizeof(double), compare_double);
    const double p50 = count ? samples[count / 2] : 0;
    const double p90 = count ? samples[(long)((count - 1) * 0.90)] : 0;
    const double p99 = count ? samples[(long)((count - 1) * 0.99)] : 0;
    printf("requests %ld errors %ld rps %.1f p50_ms %.3f p90_ms %.3f p99_ms %.3f reply_bytes %ld\n", count,
           errors, count / (end - start), p50, p90, p99, first_len);
    return 0;
}
