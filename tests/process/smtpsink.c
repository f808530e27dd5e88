/* smtpsink: a scripted SMTP server for the process tests.
 *
 *   smtpsink ADDR PORT TRANSCRIPT [PASSWORD]
 *
 * Listens on ADDR:PORT and serves one connection after another: the
 * greeting; EHLO answered with a two-line reply in two sends (the client
 * must read replies whole); AUTH LOGIN answered 334, then 235 when the
 * password line is the base64 of PASSWORD (any password when none is
 * given), else 535; MAIL FROM and RCPT TO 250; DATA 354, the mail up to the
 * line "." and 250; QUIT 221. Like a strict server, a line that does not end
 * in CRLF gets 550 and the connection is closed. Every byte received is
 * appended to TRANSCRIPT. Prints "ready" once it listens.
 */
#include <arpa/inet.h>
#include <netinet/in.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

static void say(int fd, const char *text) {
  if (write(fd, text, strlen(text)) < 0) perror("smtpsink: write");
}

static const char kB64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

static void base64(const char *in, char *out) {
  size_t n = strlen(in), i;
  for (i = 0; i + 2 < n; i += 3) {
    unsigned v = (unsigned char)in[i] << 16 | (unsigned char)in[i + 1] << 8 | (unsigned char)in[i + 2];
    *out++ = kB64[v >> 18];
    *out++ = kB64[(v >> 12) & 63];
    *out++ = kB64[(v >> 6) & 63];
    *out++ = kB64[v & 63];
  }
  if (i < n) {
    unsigned v = (unsigned char)in[i] << 16 | (i + 1 < n ? (unsigned char)in[i + 1] << 8 : 0);
    *out++ = kB64[v >> 18];
    *out++ = kB64[(v >> 12) & 63];
    *out++ = i + 1 < n ? kB64[(v >> 6) & 63] : '=';
    *out++ = '=';
  }
  *out = '\0';
}

enum { COMMAND, AUTH_PASS, MAIL_TEXT };

static void serve(int fd, FILE *transcript, const char *wantPass) {
  char line[4096];
  size_t len = 0;
  int state = COMMAND;
  char c;
  say(fd, "220 sink ESMTP\r\n");
  while (read(fd, &c, 1) == 1) {
    fputc(c, transcript);
    if (len < sizeof line - 1) line[len++] = c;
    if (c != '\n') continue;
    line[len] = '\0';
    fflush(transcript);
    len = 0;
    if (strlen(line) < 2 || line[strlen(line) - 2] != '\r') {
      say(fd, "550 5.5.2 bare <LF> received\r\n");
      return;
    }
    line[strlen(line) - 2] = '\0';
    switch (state) {
      case MAIL_TEXT:
        if (strcmp(line, ".") == 0) {
          say(fd, "250 2.0.0 queued\r\n");
          state = COMMAND;
        }
        break;
      case AUTH_PASS:
        say(fd, !wantPass || strcmp(line, wantPass) == 0 ? "235 2.7.0 ok\r\n" : "535 5.7.8 no\r\n");
        state = COMMAND;
        break;
      default:
        if (strncmp(line, "EHLO ", 5) == 0) {
          say(fd, "250-sink\r\n");
          usleep(100000);
          say(fd, "250 AUTH LOGIN\r\n");
        } else if (strncmp(line, "AUTH LOGIN ", 11) == 0) {
          /* The user name came with the command: ask for the password. */
          say(fd, "334 UGFzc3dvcmQ6\r\n");
          state = AUTH_PASS;
        } else if (strncmp(line, "MAIL FROM:", 10) == 0 || strncmp(line, "RCPT TO:", 8) == 0) {
          say(fd, "250 2.1.0 ok\r\n");
        } else if (strcmp(line, "DATA") == 0) {
          say(fd, "354 go ahead\r\n");
          state = MAIL_TEXT;
        } else if (strcmp(line, "QUIT") == 0) {
          say(fd, "221 2.0.0 bye\r\n");
          return;
        } else {
          say(fd, "502 5.5.2 unknown\r\n");
        }
    }
  }
}

int main(int argc, char **argv) {
  if (argc != 4 && argc != 5) {
    fputs("usage: smtpsink ADDR PORT TRANSCRIPT [PASSWORD]\n", stderr);
    return 2;
  }
  char wantPass[256] = "";
  if (argc == 5) {
    if (strlen(argv[4]) > 180) return 2;
    base64(argv[4], wantPass);
  }
  int ls = socket(AF_INET, SOCK_STREAM, 0), one = 1;
  struct sockaddr_in sa;
  memset(&sa, 0, sizeof sa);
  sa.sin_family = AF_INET;
  sa.sin_port = htons((unsigned short)atoi(argv[2]));
  if (ls < 0 || inet_pton(AF_INET, argv[1], &sa.sin_addr) != 1 ||
      setsockopt(ls, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) != 0 ||
      bind(ls, (struct sockaddr *)&sa, sizeof sa) != 0 || listen(ls, 4) != 0) {
    perror("smtpsink");
    return 1;
  }
  FILE *transcript = fopen(argv[3], "ab");
  if (!transcript) {
    perror(argv[3]);
    return 1;
  }
  puts("ready");
  fflush(stdout);
  for (;;) {
    int fd = accept(ls, NULL, NULL);
    if (fd < 0) continue;
    serve(fd, transcript, argc == 5 ? wantPass : NULL);
    fflush(transcript);
    close(fd);
  }
}
