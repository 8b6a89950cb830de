/* The startup script's programs stood in for, to walk fleet\uninstall.cmd
 * through its starts under 64-bit Wine, where the release's 32-bit programs
 * cannot run. The machine is one word in %SystemRoot%\vk-stand-in.txt:
 * "installed", "unsafe" (a break verify reports) or "sound".
 *   VkCheck.exe detect | preview --json | verify --json, as the real one
 *   answers them for that machine; VkUninst.exe turns the machine into the
 *   word in %SystemRoot%\vk-stand-in.after (the run's outcome).
 * Built as either by defining UNINSTALLER. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static void Path(char* path, size_t size, const char* name) {
    const char* root = getenv("SystemRoot");
    snprintf(path, size, "%s\\%s", root != NULL ? root : "C:\\windows", name);
}

/* The word in %SystemRoot%\<name> (at most 31 characters), "" when none. */
static void Word(const char* name, char word[32]) {
    char path[512];
    Path(path, sizeof path, name);
    word[0] = '\0';
    FILE* file = fopen(path, "r");
    if (file != NULL) {
        if (fscanf(file, "%31s", word) != 1)
            word[0] = '\0';
        fclose(file);
    }
}

int main(int argc, char** argv) {
    char machine[32];
    Word("vk-stand-in.txt", machine);
#ifdef UNINSTALLER
    char after[32], path[512];
    Word("vk-stand-in.after", after);
    Path(path, sizeof path, "vk-stand-in.txt");
    FILE* file = fopen(path, "w");
    if (file == NULL)
        return 5;
    fprintf(file, "%s\n", after);
    fclose(file);
    (void)argc;
    (void)argv;
    return 0;
#else
    const char* verb = argc > 1 ? argv[1] : "";
    int installed = strcmp(machine, "installed") == 0;
    if (strcmp(verb, "detect") == 0) {
        if (installed)
            printf("Tallowin: its service DzMain\n");
        return 0;
    }
    int status = 0;
    if (strcmp(verb, "verify") == 0)
        status = installed ? 1 : strcmp(machine, "unsafe") == 0 ? 2 : 0;
    printf("{\"answer\": \"%s\", \"status\": %d}\n", verb, status);
    return status;
#endif
}
