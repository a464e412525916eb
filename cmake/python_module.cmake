# The extension module quorvelin_convert and the HTML page target.
