/* Another program using the installed algorithm library through its
 * exported interface: enrols a finger from six captures, then verifies each
 * probe against the template. The captures are 176 x 96 8-bit images; a
 * file's last 16896 bytes are taken as the image (a binary PGM works).
 *   install_example E1 E2 E3 E4 E5 E6 PROBE...
 * Prints one line per probe ("match" or "no match"); exits 1 when the
 * enrolment does not complete. */
#include <fpmatch.h>
#include <stdio.h>

#define SAMPLE_BYTES (RADU_SAMPLE_ROWS * RADU_SAMPLE_COLS)

static int read_sample(const char* path, uint8_t* sample) {
    FILE* f = fopen(path, "rb");
    size_t n = 0;
    if (f == NULL) return 0;
    if (fseek(f, -(long)SAMPLE_BYTES, SEEK_END) == 0) n = fread(sample, 1, SAMPLE_BYTES, f);
    fclose(f);
    return n == SAMPLE_BYTES;
}

int main(int argc, char** argv) {
    static uint8_t sample[SAMPLE_BYTES], stored[RADU_TEMPLATE_BUFFER_SIZE];
    uint8_t type = 0;
    int32_t step = 0, size;
    int i;
    if (argc < 8) return 2;
    printf("fpmatch %s\n", RADU_alg_get_version());
    RADU_alg_init();
    for (i = 1; i <= 6; ++i) {
        if (!read_sample(argv[i], sample)) return 2;
        step = RADU_alg_request_enroll(0, sample);
    }
    if (step != RADU_ENROLL_COMPLETE) {
        printf("enrolment ended with %d\n", step);
        return 1;
    }
    size = RADU_alg_save_template(0, stored, &type);
    printf("template: %d bytes, type %u\n", size, type);
    for (i = 7; i < argc; ++i) {
        if (!read_sample(argv[i], sample)) return 2;
        printf("%s: %s\n", argv[i],
               RADU_alg_request_verify(sample, stored, (uint32_t)size) == RADU_VERIFY_MATCH ? "match" : "no match");
    }
    RADU_alg_exit();
    return 0;
}
