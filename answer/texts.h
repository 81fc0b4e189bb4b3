// The words both the Windows program and vnlt show for what they do to a
// directory file: the program's string table and vnlt's messages are built
// from here, so neither front end reaches into the other. Plain macros of
// UTF-8 literals, so that windres (after the script's code_page pragma) and
// C++ both read them.
#pragma once

// The statistics' figures in DirectoryStatistics' order, each a %u.
#define TEXT_STATISTICS                    \
    "数据版本: %u.%u.%u\n\n"           \
    "记录: %u 条，占用: %u 字节\n" \
    "项目: %u 条，占用: %u 字节\n" \
    "归属: %u 种，占用: %u 字节\n" \
    "类型: %u 种，占用: %u 字节"
#define TEXT_ADD_FAILED "记录添加失败。\n\n请确保要添加的号码小于 4194304。"
#define TEXT_SAVE_FAILED "保存失败。\n\n请确保数据文件可写。"
#define TEXT_IMPORT_FAILED "数据导入不成功。"
#define TEXT_EXPORT_FAILED "数据导出不成功。"
