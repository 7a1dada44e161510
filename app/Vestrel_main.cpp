// placeholder: replaced as this layer is built
