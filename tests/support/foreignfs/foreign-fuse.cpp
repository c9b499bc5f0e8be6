// A FUSE file system of "another program": one read-only file, served in the foreground until
// unmounted or signalled. Tests mount it where the application must leave it alone.
#define FUSE_USE_VERSION 31

#include <fuse.h>

#include <cerrno>
#include <cstring>

#include <sys/stat.h>

static const char content[] = "not the application's\n";
static const char fileName[] = "foreign.txt";

static int getattrOf(const char* path, struct stat* info, fuse_file_info* file)
{
    (void)file;
    memset(info, 0, sizeof(*info));
    if (strcmp(path, "/") == 0) {
        info->st_mode = S_IFDIR | 0755;
        info->st_nlink = 2;
        return 0;
    }
    if (path[0] == '/' && strcmp(path + 1, fileName) == 0) {
        info->st_mode = S_IFREG | 0444;
        info->st_nlink = 1;
        info->st_size = static_cast<off_t>(sizeof(content) - 1);
        return 0;
    }
    return -ENOENT;
}

static int listFolder(const char* path, void* buffer, fuse_fill_dir_t fill, off_t offset, fuse_file_info* file,
    fuse_readdir_flags flags)
{
    (void)offset;
    (void)file;
    (void)flags;
    if (strcmp(path, "/") != 0)
        return -ENOENT;
    const auto none = static_cast<fuse_fill_dir_flags>(0);
    fill(buffer, ".", nullptr, 0, none);
    fill(buffer, "..", nullptr, 0, none);
    fill(buffer, fileName, nullptr, 0, none);
    return 0;
}

static int readFile(const char* path, char* buffer, size_t size, off_t offset, fuse_file_info* file)
{
    (void)file;
    if (path[0] != '/' || strcmp(path + 1, fileName) != 0)
        return -ENOENT;
    const size_t length = sizeof(content) - 1;
    if (static_cast<size_t>(offset) >= length)
        return 0;
    if (static_cast<size_t>(offset) + size > length)
        size = length - static_cast<size_t>(offset);
    memcpy(buffer, content + offset, size);
    return static_cast<int>(size);
}

static const fuse_operations operations = [] {
    fuse_operations table{};
    table.getattr = getattrOf;
    table.read = readFile;
    table.readdir = listFolder;
    return table;
}();

int main(int argc, char* argv[])
{
    return fuse_main(argc, argv, &operations, nullptr);
}
