// The string table's texts: the resource script builds the table from them.
// Those vnlt shows too live below both, in answer/texts.h. Plain macros of
// UTF-8 literals, so that windres (after the script's code_page pragma) and
// C++ both read them.
#pragma once

#include "answer/texts.h"

#define TEXT_FILTER "文本文件 (*.txt)|*.txt|所有文件 (*.*)|*.*|"
#define TEXT_SAVE_PROMPT "您已经添加或导入条目到归属数据库中，要保存这些更改吗?"
#define TEXT_ADD_OK "记录添加成功。"
#define TEXT_EXPORT_OK "数据导出成功。"
#define TEXT_BUTTON_ADD "添加"
#define TEXT_BUTTON_IMPORT "导入"
#define TEXT_BUTTON_EXPORT "导出"
