#include <utility>

#include "convert_engine/notebook/record_readers.hpp"

namespace convert_engine::notebook::detail {

namespace {

// At the end of a cell type name's closing quote.
CellType cell_type_named(JsonReader& r, std::string_view name) {
    if (name == "code") return CellType::Code;
    if (name == "markdown") return CellType::Markdown;
    if (name == "raw") return CellType::Raw;
    r.fail_at_point(r.offset(), unknown_variant(name, "`code`, `markdown`, `raw`"));
}

}  // namespace

// A name string, or the map form {"<name>": null}.
CellType read_cell_type(JsonReader& r) {
    const int c = r.peek_value();
    if (c == '"') return cell_type_named(r, r.read_string());
    if (c != '{') r.fail_syntax(r.offset(), ErrorKind::ExpectedValue);
    r.enter();
    if (r.peek_value() != '"') r.fail_invalid_type("variant identifier");
    const CellType type = cell_type_named(r, r.read_string());
    r.object_colon();
    if (r.peek_value() != 'n') r.fail_invalid_type("unit");
    r.take_null();
    const int end = r.peek();
    if (end == '}') {
        r.leave();
        return type;
    }
    if (end < 0) r.fail_syntax(r.offset(), ErrorKind::EofWhileParsingObject);
    // Placed just before the offending byte.
    r.fail_at_point(r.offset(), ErrorKind::ExpectedValue);
}

// The value is read whole first, so its own syntax errors come before the
// verdict on its shape.
void read_cell_source(JsonReader& r, CellSource& source) {
    if (!read_joined_text(r, source.text)) fail_not_a_text();
}

JsonObject read_map_or_check(JsonReader& r, bool empty) {
    if (empty && r.peek_value() == '{') {
        r.check_value();
        return JsonObject();
    }
    return r.read_map();
}

void read_cell(JsonReader& r, Cell& cell, ReadOptions options) {
    // Keys come in any order: outputs are dropped only when the kind read
    // before them is code.
    bool typed = false;
    read_record<kCell>(r, [&](CellField field) {
        switch (field) {
            case CellField::CellType:
                cell.cell_type = read_cell_type(r);
                typed = true;
                return;
            case CellField::Source: read_cell_source(r, cell.source); return;
            case CellField::Metadata: cell.metadata = read_map_or_check(r, options.empty_metadata); return;
            case CellField::Id: cell.id = read_optional_text(r); return;
            case CellField::ExecutionCount: cell.execution_count = read_optional_value(r); return;
            case CellField::Outputs: {
                const bool code = typed && cell.cell_type == CellType::Code;
                const OutputReading reading{options.drop_code_outputs && code, options.empty_metadata};
                r.read_list([&] {
                    CellOutput output = read_output(r, reading);
                    if (!reading.dropped) cell.outputs.push_back(std::move(output));
                });
                return;
            }
        }
    });
}

}  // namespace convert_engine::notebook::detail
