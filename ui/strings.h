// The string table's texts: the resource script builds the table from them,
// and vnlt prints the same words from here. Plain macros of UTF-8 literals,
// so that windres (after the script's code_page pragma) and C++ both read them.
#pragma once

#define TEXT_FILTER "文本文件 (*.txt)|*.txt|所有文件 (*.*)|*.*|"
#define TEXT_SAVE_PROMPT "您已经添加或导入条目到归属数据库中，要保存这些更改吗?"
// The statistics' figures in DirectoryStatistics' order, each a %u.
#define TEXT_STATISTICS                    \
    "数据版本: %u.%u.%u\n\n"           \
    "记录: %u 条，占用: %u 字节\n" \
    "项目: %u 条，占用: %u 字节\n" \
    "归属: %u 种，占用: %u 字节\n" \
    "类型: %u 种，占用: %u 字节"
#define TEXT_ADD_OK "记录添加成功。"
#define TEXT_ADD_FAILED "记录添加失败。\n\n请确保要添加的号码小于 4194304。"
#define TEXT_SAVE_FAILED "保存失败。\n\n请确保数据文件可写。"
#define TEXT_IMPORT_FAILED "数据导入不成功。"
#define TEXT_EXPORT_OK "数据导出成功。"
#define TEXT_EXPORT_FAILED "数据导出不成功。"
#define TEXT_BUTTON_ADD "添加"
#define TEXT_BUTTON_IMPORT "导入"
#define TEXT_BUTTON_EXPORT "导出"
