#pragma once

#include <string_view>

namespace python_module::page {

// The Jinja2 text of the HTML page, registered as the template "notebook".
// It starts with a line feed; the engine drops the one line feed at its end.
inline constexpr std::string_view page_template = R"page(
<!DOCTYPE html>
<html lang="en">
<head>
    <meta charset="UTF-8">
    <meta name="viewport" content="width=device-width, initial-scale=1.0">
    <title>{{ title }}</title>
    <style>
        body {
            font-family: -apple-system, BlinkMacSystemFont, 'Segoe UI', Roboto, Oxygen, Ubuntu, sans-serif;
            line-height: 1.6;
            max-width: 900px;
            margin: 0 auto;
            padding: 20px;
            background: #fafafa;
        }
        .notebook {
            background: white;
            border-radius: 8px;
            box-shadow: 0 2px 10px rgba(0,0,0,0.1);
            overflow: hidden;
        }
        .cell {
            border-bottom: 1px solid #eee;
            padding: 16px;
        }
        .cell:last-child {
            border-bottom: none;
        }
        .cell-header {
            display: flex;
            justify-content: space-between;
            align-items: center;
            margin-bottom: 8px;
            color: #888;
            font-size: 0.85em;
        }
        .cell-type {
            background: #e8f4fd;
            color: #3178c6;
            padding: 2px 8px;
            border-radius: 4px;
            font-weight: 500;
        }
        .execution-count {
            color: #666;
        }
        .code-cell {
            background: #f7f7f7;
            border-radius: 4px;
            overflow: hidden;
        }
        .code-source {
            padding: 12px;
            font-family: 'Consolas', 'Monaco', 'Courier New', monospace;
            font-size: 14px;
            overflow-x: auto;
        }
        .code-output {
            padding: 12px;
            border-top: 1px solid #ddd;
            font-family: 'Consolas', 'Monaco', 'Courier New', monospace;
            font-size: 14px;
            background: #fff;
        }
        .markdown-cell {
            color: #333;
        }
        .markdown-cell h1 { font-size: 1.8em; margin-top: 0; }
        .markdown-cell h2 { font-size: 1.5em; }
        .markdown-cell h3 { font-size: 1.2em; }
        .markdown-cell code {
            background: #f0f0f0;
            padding: 2px 6px;
            border-radius: 3px;
            font-family: 'Consolas', 'Monaco', 'Courier New', monospace;
        }
        .markdown-cell pre {
            background: #f7f7f7;
            padding: 12px;
            border-radius: 4px;
            overflow-x: auto;
        }
        .output-error {
            color: #d32f2f;
            background: #ffebee;
            padding: 8px;
            border-radius: 4px;
        }
        .stream-stdout {
            color: #333;
        }
        .stream-stderr {
            color: #d32f2f;
        }
        .raw-cell {
            background: #fff3e0;
            padding: 12px;
            border-radius: 4px;
        }
    </style>
</head>
<body>
    <div class="notebook">
{%- for cell in cells %}
        <div class="cell">
            <div class="cell-header">
                <span class="cell-type">{{ cell.type_label }}</span>
                {%- if cell.execution_count %}
                <span class="execution-count">[{{ cell.execution_count }}]</span>
                {%- endif %}
            </div>
            {%- if cell.is_code %}
            <div class="code-cell">
                <div class="code-source"><pre>{{ cell.source_escaped }}</pre></div>
                {%- if cell.outputs %}
                <div class="code-output">
                    {%- for output in cell.outputs %}
                    {{- output.html | safe }}
                    {%- endfor %}
                </div>
                {%- endif %}
            </div>
            {%- elif cell.is_markdown %}
            <div class="markdown-cell">{{ cell.source_escaped | safe }}</div>
            {%- elif cell.is_raw %}
            <div class="raw-cell"><pre>{{ cell.source_escaped }}</pre></div>
            {%- endif %}
        </div>
{%- endfor %}
    </div>
</body>
</html>
)page";

}  // namespace python_module::page
